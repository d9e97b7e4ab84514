#pragma once
// What kdrelease asks of the platform's cryptography: a new P-256 key, an
// ECDSA signature over SHA-256, its verification and SHA-256 itself. One
// declaration, two implementations: OpenSSL's libcrypto natively
// (ReleaseCryptoOpenSsl.cpp) and CNG on Windows (ReleaseCryptoCng.cpp); the
// keys and signatures cross in the platform-free forms of KeyCoding.h.
// Platform-free: no <windows.h> here.

#include "kdrelease/KeyCoding.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// A failure of the platform's cryptography; the text says which step failed.
class CryptoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A fresh key from the platform's random source. Throws CryptoError.
P256Key GenerateP256Key();

// The signature r || s (32 bytes each) of the SHA-256 of `message`. Throws
// CryptoError; a key whose parts do not belong together may still sign, so
// callers verify what they signed.
std::string SignP256(const P256Key& key, std::string_view message);

// True only when `rs` is a valid signature of the SHA-256 of `message` under
// the public key X || Y.
bool VerifyP256(std::string_view xy, std::string_view message, std::string_view rs);

// An incremental SHA-256; Finish gives the 32 bytes once. Throws CryptoError.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    std::string Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};
