#pragma once
// Random bytes, SHA-256 and P-256 ECDSA verification by the platform's cryptography (CNG,
// bcrypt.dll). The algorithm providers are opened once per process and
// shared; each hash object belongs to one thread at a time.

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>
#include <string>
#include <string_view>

// An incremental SHA-256. A failure of the platform at any step is kept and
// makes Finish return an empty text, which matches no digest.
class TauSha256 {
public:
    TauSha256();
    ~TauSha256();
    TauSha256(const TauSha256&) = delete;
    TauSha256& operator=(const TauSha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The 32 bytes of the digest; empty after a failure. Call once.
    std::string Finish();

private:
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    bool failed_ = false;
};

std::string Sha256Of(std::string_view data);

// True only when `signature` (r || s) is a valid P-256 ECDSA signature of the
// SHA-256 of `message` under the key X || Y.
bool VerifyP256Signature(std::string_view publicKeyXY, std::string_view message, std::string_view signature);

// 128 bits from the system's random number generator as 32 lower-case
// hexadecimal digits; empty when the system gives none.
std::string RandomHex();
