#pragma once

#include "link/link_message.h"
#include "link/peer_id.h"
#include "link/trusted_peers.h"
#include "platform/crypto.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvane {

/// One link's handshake, from its greeting to a ready link: hello, the trusted proofs or the pairing (commit, nonce,
/// reveal, the code, both confirmations). It knows no connection: each input answers with the messages to send and
/// what became of the handshake, which the session carries out.
class PairingHandshake {
public:
    enum class Phase {
        connecting,
        greeting,
        authenticating,
        awaitingCommit,
        awaitingNonce,
        awaitingReveal,
        answering,
        ready,
        closing
    };
    static bool isPairingPhase(Phase p);

    /// This device, as the handshake needs it.
    struct Own {
        std::uint8_t role = 0;
        std::uint8_t peerRole = 0;  // the role a peer must have
        const crypto::X25519PrivateKey* key = nullptr;
        Bytes publicKey;
        bool allowsPairing = false;
    };

    struct Step {
        enum class Outcome {
            none,
            requestRaised,  ///< both sides show the code now
            trusted,        ///< both proofs verified: the link is ready
            paired,         ///< both confirmations are in: store the peer, then the link is ready
            refuse,         ///< send a refusal with `refusal`, then drop the link
            close,          ///< close with `reason`, telling the user `issue` if any
            fault,          ///< a protocol fault `reason`; the user hears `issue` first if any
            notice,         ///< tell the user `issue`; the handshake goes on
        };
        Outcome outcome = Outcome::none;
        /// Sent in order, after the outcome is carried out, while the link is still open.
        std::vector<std::pair<LinkMessage::Kind, Bytes>> messages;
        LinkMessage::RefuseReason refusal = LinkMessage::RefuseReason::declined;
        std::string reason;
        std::optional<std::string> issue;
    };

    static std::string fallbackName(std::uint8_t role);

    /// A handshake message (hello ... refuse) while the handshake is under way.
    Step receive(const Own& own, const TrustedPeers& trusted, LinkMessage::Kind kind, const Bytes& body);
    /// The user accepted the code; none when there was nothing to accept.
    std::optional<Step> accept(const Own& own);
    /// The user typed a code other than the one shown: both sides are told, and the request stays open for the
    /// right code. None when there was nothing to answer.
    std::optional<Step> codeDidNotMatch();

    Phase phase = Phase::connecting;
    bool outgoing = false;  ///< this side invited
    PeerId peerId;          ///< known from the invitation, else from the peer's hello
    bool knowsPeer = false;
    Bytes expectedKey;  ///< the key the invited camera announced
    std::string name;   ///< the peer's name as shown
    std::uint8_t peerRole = 0;
    Bytes peerKey;
    Bytes exporter;
    std::string code;
    bool requestRaised = false;
    bool ownAccepted = false;

    /// The peer's hello named a key this device trusts, with the role it announced.
    bool trustsPeer() const { return ownTrusts; }

private:
    Step receiveHello(const Own& own, const TrustedPeers& trusted, const Bytes& body);
    Step receiveAuth(const Own& own, bool isProof, const Bytes& body);
    Step raiseRequest(const Own& own);
    static Step fault(std::string what, std::optional<std::string> issue = std::nullopt);

    Bytes linkKey;
    bool ownTrusts = false;
    bool peerTrusts = false;
    Bytes peerProof;
    Bytes nonceI, nonceR, commitment;
    bool peerConfirmed = false;
};

}  // namespace morvane
