#include "platform/crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace morvane::crypto {

namespace {

constexpr std::size_t keySize = 32;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct MacFree {
    void operator()(EVP_MAC* p) const { EVP_MAC_free(p); }
};
struct MacCtxFree {
    void operator()(EVP_MAC_CTX* p) const { EVP_MAC_CTX_free(p); }
};
struct KdfFree {
    void operator()(EVP_KDF* p) const { EVP_KDF_free(p); }
};
struct KdfCtxFree {
    void operator()(EVP_KDF_CTX* p) const { EVP_KDF_CTX_free(p); }
};

using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// Failures here mean the library itself is broken or out of memory; carrying on with
// a wrong key or digest would be worse than stopping the operation.
[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("crypto: ") + what);
}

// OpenSSL treats a null buffer as "not given"; an empty key or salt must still be given.
const unsigned char* nonNull(const Bytes& b) {
    static const unsigned char empty = 0;
    return b.empty() ? &empty : b.data();
}

Pkey privateKey(const Bytes& raw) {
    Pkey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, raw.data(), raw.size()));
    if (!key) fail("cannot load an X25519 private key");
    return key;
}

}  // namespace

X25519PrivateKey::X25519PrivateKey() : raw_(randomBytes(keySize)) {}

std::optional<X25519PrivateKey> X25519PrivateKey::fromRaw(const Bytes& raw) {
    if (raw.size() != keySize) return std::nullopt;
    X25519PrivateKey key;
    key.raw_ = raw;
    return key;
}

Bytes X25519PrivateKey::publicKey() const {
    Pkey key = privateKey(raw_);
    Bytes out(keySize);
    std::size_t length = out.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), out.data(), &length) != 1 || length != keySize) {
        fail("cannot compute an X25519 public key");
    }
    return out;
}

std::optional<Bytes> X25519PrivateKey::sharedSecret(const Bytes& peerPublicKey) const {
    if (peerPublicKey.size() != keySize) return std::nullopt;
    Pkey own = privateKey(raw_);
    Pkey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerPublicKey.data(), peerPublicKey.size()));
    if (!peer) return std::nullopt;
    PkeyCtx ctx(EVP_PKEY_CTX_new(own.get(), nullptr));
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1) fail("cannot start a key agreement");
    if (EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1) return std::nullopt;
    Bytes secret(keySize);
    std::size_t length = secret.size();
    // The library refuses an all-zero result (a low-order peer point); check again so that
    // such a point can never yield a secret an attacker knows.
    if (EVP_PKEY_derive(ctx.get(), secret.data(), &length) != 1 || length != keySize) return std::nullopt;
    unsigned char any = 0;
    for (auto b : secret) any |= b;
    if (any == 0) return std::nullopt;
    return secret;
}

Digest sha256(const std::uint8_t* data, std::size_t size) {
    Digest out{};
    unsigned int length = 0;
    static const unsigned char empty = 0;
    if (EVP_Digest(size == 0 ? &empty : data, size, out.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != out.size()) {
        fail("SHA-256 failed");
    }
    return out;
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
        fail("cannot start SHA-256");
    }
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
}

void Sha256::update(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size) != 1) fail("SHA-256 update failed");
}

Digest Sha256::finish() {
    auto* ctx = static_cast<EVP_MD_CTX*>(ctx_);
    Digest out{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx, out.data(), &length) != 1 || length != out.size()) fail("SHA-256 failed");
    // Ready for the next message.
    if (EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) fail("cannot restart SHA-256");
    return out;
}

Digest hmacSha256(const Bytes& key, const Bytes& message) {
    std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!mac) fail("HMAC is not available");
    std::unique_ptr<EVP_MAC_CTX, MacCtxFree> ctx(EVP_MAC_CTX_new(mac.get()));
    if (!ctx) fail("cannot create an HMAC context");
    char digestName[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                                 OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(ctx.get(), nonNull(key), key.size(), params) != 1) fail("cannot start HMAC");
    if (!message.empty() && EVP_MAC_update(ctx.get(), message.data(), message.size()) != 1) fail("HMAC failed");
    Digest out{};
    std::size_t length = 0;
    if (EVP_MAC_final(ctx.get(), out.data(), &length, out.size()) != 1 || length != out.size()) fail("HMAC failed");
    return out;
}

Bytes hkdfSha256(const Bytes& inputKey, const Bytes& salt, const Bytes& info, std::size_t length) {
    if (length > 255 * 32) throw std::invalid_argument("crypto: HKDF output longer than 255 blocks");
    if (length == 0) return {};
    std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    if (!kdf) fail("HKDF is not available");
    std::unique_ptr<EVP_KDF_CTX, KdfCtxFree> ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx) fail("cannot create an HKDF context");

    char digestName[] = "SHA256";
    OSSL_PARAM params[5];
    OSSL_PARAM* p = params;
    *p++ = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digestName, 0);
    *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char*>(nonNull(inputKey)),
                                             inputKey.size());
    // An absent salt means a block of zeros; OpenSSL does the same when none is given.
    if (!salt.empty()) {
        *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<unsigned char*>(salt.data()),
                                                 salt.size());
    }
    if (!info.empty()) {
        *p++ = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<unsigned char*>(info.data()),
                                                 info.size());
    }
    *p = OSSL_PARAM_construct_end();

    Bytes out(length);
    if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) fail("HKDF failed");
    return out;
}

Bytes randomBytes(std::size_t count) {
    Bytes out(count);
    constexpr std::size_t chunk = 1 << 20;  // RAND_bytes takes an int length
    for (std::size_t done = 0; done < count; done += chunk) {
        const auto n = static_cast<int>(std::min(chunk, count - done));
        if (RAND_bytes(out.data() + done, n) != 1) fail("no secure random bytes");
    }
    return out;
}

bool constantTimeEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
    if (size == 0) return true;
    return CRYPTO_memcmp(a, b, size) == 0;
}

}  // namespace morvane::crypto
