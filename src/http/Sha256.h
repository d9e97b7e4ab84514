#pragma once
// SHA-256 by the platform's cryptography (CNG, bcrypt.dll), fed block by
// block while a download is stored. The algorithm provider is opened once per
// process and shared; each hash object belongs to one thread at a time.

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>
#include <string>
#include <string_view>

// An incremental SHA-256. A failure of the platform at any step is kept and
// makes Finish return an empty text, which matches no digest.
class TauSha256 {
public:
    static constexpr std::size_t DigestSize = 32;

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
// The digest of what is left to read of an open file; empty when a read or
// the platform fails.
std::string Sha256OfFile(HANDLE file);
