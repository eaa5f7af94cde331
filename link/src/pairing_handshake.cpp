#include "pairing_handshake.h"

#include "link/device_identity.h"
#include "link/link_crypto.h"

namespace morvane {

namespace {

using Kind = LinkMessage::Kind;
using Outcome = PairingHandshake::Step::Outcome;

Bytes bytesOf(const crypto::Digest& digest) {
    return Bytes(digest.begin(), digest.end());
}

}  // namespace

bool PairingHandshake::isPairingPhase(Phase p) {
    return p == Phase::authenticating || p == Phase::awaitingCommit || p == Phase::awaitingNonce ||
           p == Phase::awaitingReveal || p == Phase::answering;
}

std::string PairingHandshake::fallbackName(std::uint8_t role) {
    return role == TrustedPeer::cameraRole ? "Camera" : "Remote";
}

PairingHandshake::Step PairingHandshake::fault(std::string what, std::optional<std::string> issue) {
    Step step;
    step.outcome = Outcome::fault;
    step.reason = std::move(what);
    step.issue = std::move(issue);
    return step;
}

PairingHandshake::Step PairingHandshake::receive(const Own& own, const TrustedPeers& trusted, Kind kind,
                                                 const Bytes& body) {
    Step step;
    switch (kind) {
        case Kind::hello:
            if (phase != Phase::greeting) return fault("unexpected hello");
            return receiveHello(own, trusted, body);
        case Kind::proof:
        case Kind::pair:
            if (phase != Phase::authenticating || !peerProof.empty() || peerTrusts) {
                return fault("unexpected authentication");
            }
            return receiveAuth(own, kind == Kind::proof, body);
        case Kind::commit:
            if (phase != Phase::awaitingCommit || body.size() != LinkMessage::tokenSize) {
                return fault("unexpected commitment");
            }
            commitment = body;
            nonceR = crypto::randomBytes(LinkMessage::tokenSize);
            step.messages.emplace_back(Kind::nonce, nonceR);
            phase = Phase::awaitingReveal;
            return step;
        case Kind::nonce:
            if (phase != Phase::awaitingNonce || body.size() != LinkMessage::tokenSize) {
                return fault("unexpected nonce");
            }
            nonceR = body;
            step = raiseRequest(own);
            step.messages.emplace_back(Kind::reveal, nonceI);
            return step;
        case Kind::reveal: {
            if (phase != Phase::awaitingReveal || body.size() != LinkMessage::tokenSize) {
                return fault("unexpected reveal");
            }
            const auto digest = LinkCrypto::commitment(body);
            if (!crypto::constantTimeEqual(digest.data(), commitment.data(), digest.size())) {
                return fault("the revealed nonce does not match its commitment",
                             "The pairing with " + name + " failed");
            }
            nonceI = body;
            return raiseRequest(own);
        }
        case Kind::confirm: {
            if (phase != Phase::answering || peerConfirmed || body.size() != LinkMessage::tokenSize) {
                return fault("unexpected confirmation");
            }
            const auto expected = LinkCrypto::confirmation(linkKey, peerRole, exporter, code);
            if (!crypto::constantTimeEqual(expected.data(), body.data(), expected.size())) {
                step.outcome = Outcome::close;
                step.reason = "pairing confirmation does not verify";
                step.issue = "The pairing with " + name + " failed";
                return step;
            }
            peerConfirmed = true;
            if (ownAccepted) step.outcome = Outcome::paired;
            return step;
        }
        case Kind::refuse: {
            if (!isPairingPhase(phase) || body.size() > 1) return fault("unexpected refusal");
            const auto reason =
                body.empty() ? LinkMessage::RefuseReason::declined : static_cast<LinkMessage::RefuseReason>(body[0]);
            if (reason == LinkMessage::RefuseReason::codeMismatch && phase == Phase::answering) {
                step.outcome = Outcome::notice;
                step.issue = "The code typed at " + name + " did not match";
                return step;
            }
            step.outcome = Outcome::close;
            step.reason = "refused by the peer";
            switch (reason) {
                case LinkMessage::RefuseReason::notAllowed:
                    step.issue = name + " doesn't accept new pairings";
                    break;
                case LinkMessage::RefuseReason::timedOut:
                    step.issue = "The pairing with " + name + " timed out";
                    break;
                default:
                    step.issue = name + " declined the pairing";
                    break;
            }
            return step;
        }
        default:
            return fault("unknown message kind " + std::to_string(static_cast<int>(kind)));
    }
}

PairingHandshake::Step PairingHandshake::receiveHello(const Own& own, const TrustedPeers& trusted, const Bytes& body) {
    auto hello = LinkMessage::Hello::decode(body);
    if (!hello) return fault("malformed hello");
    if (hello->role != own.peerRole) return fault("peer has the wrong role");
    if (hello->publicKey == own.publicKey) return fault("connected to itself");
    if (outgoing && hello->publicKey != expectedKey) return fault("peer is not the device that was announced");
    auto key = DeviceIdentity::linkKey(*own.key, hello->publicKey);
    if (!key) return fault("unusable identity key");
    peerKey = hello->publicKey;
    peerRole = hello->role;
    linkKey = std::move(*key);
    const auto cleaned = DeviceIdentity::cleanName(hello->name);
    name = cleaned.empty() ? fallbackName(hello->role) : cleaned;
    if (!outgoing) {
        peerId = PeerId{hello->instance};
        knowsPeer = true;
    }
    const auto entry = trusted.find(peerKey);
    ownTrusts = entry && entry->role == peerRole;
    Step step;
    if (ownTrusts) {
        step.messages.emplace_back(Kind::proof, bytesOf(LinkCrypto::proof(linkKey, own.role, exporter)));
    } else {
        step.messages.emplace_back(Kind::pair, Bytes{});
    }
    phase = Phase::authenticating;
    return step;
}

PairingHandshake::Step PairingHandshake::receiveAuth(const Own& own, bool isProof, const Bytes& body) {
    if (isProof && body.size() != LinkMessage::tokenSize) return fault("malformed proof");
    if (!isProof && !body.empty()) return fault("malformed pairing request");
    peerTrusts = isProof;
    if (isProof) peerProof = body;
    Step step;
    if (ownTrusts && peerTrusts) {
        const auto expected = LinkCrypto::proof(linkKey, peerRole, exporter);
        if (!crypto::constantTimeEqual(expected.data(), peerProof.data(), expected.size())) {
            step.outcome = Outcome::close;
            step.reason = "the peer's proof does not verify";
            step.issue = "Couldn't verify " + name;
            return step;
        }
        step.outcome = Outcome::trusted;
        return step;
    }
    if (!own.allowsPairing) {
        step.outcome = Outcome::refuse;
        step.refusal = LinkMessage::RefuseReason::notAllowed;
        step.reason = name + " asked to pair, but pairing is off";
        return step;
    }
    if (outgoing) {
        nonceI = crypto::randomBytes(LinkMessage::tokenSize);
        step.messages.emplace_back(Kind::commit, bytesOf(LinkCrypto::commitment(nonceI)));
        phase = Phase::awaitingNonce;
    } else {
        phase = Phase::awaitingCommit;
    }
    return step;
}

PairingHandshake::Step PairingHandshake::raiseRequest(const Own& own) {
    const auto& initiatorKey = outgoing ? own.publicKey : peerKey;
    const auto& responderKey = outgoing ? peerKey : own.publicKey;
    code = LinkCrypto::pairingCode(exporter, nonceI, nonceR, initiatorKey, responderKey);
    requestRaised = true;
    phase = Phase::answering;
    Step step;
    step.outcome = Outcome::requestRaised;
    return step;
}

std::optional<PairingHandshake::Step> PairingHandshake::codeDidNotMatch() {
    if (phase != Phase::answering || ownAccepted) return std::nullopt;
    Step step;
    step.outcome = Outcome::notice;
    step.issue = "The code did not match the one " + name + " shows";
    step.messages.emplace_back(Kind::refuse, Bytes{static_cast<std::uint8_t>(LinkMessage::RefuseReason::codeMismatch)});
    return step;
}

std::optional<PairingHandshake::Step> PairingHandshake::accept(const Own& own) {
    if (phase != Phase::answering || ownAccepted) return std::nullopt;
    ownAccepted = true;
    Step step;
    // Ready before the peer hears of it: the peer is ready once it has our confirmation and may send at once, and
    // a link that is not ready takes no packets.
    if (peerConfirmed) step.outcome = Outcome::paired;
    step.messages.emplace_back(Kind::confirm, bytesOf(LinkCrypto::confirmation(linkKey, own.role, exporter, code)));
    return step;
}

}  // namespace morvane
