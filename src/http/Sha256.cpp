#include "Sha256.h"

#include "winutil/CngProvider.h"

#include <algorithm>

TauSha256::TauSha256()
{
    const BCRYPT_ALG_HANDLE provider = Sha256Provider();
    failed_ = !provider || !BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash_, nullptr, 0, nullptr, 0, 0));
}

TauSha256::~TauSha256()
{
    if (hash_)
        BCryptDestroyHash(hash_);
}

void TauSha256::Update(const void* data, std::size_t size)
{
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (!failed_ && size > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        failed_ = !BCRYPT_SUCCESS(BCryptHashData(hash_, bytes, chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
}

std::string TauSha256::Finish()
{
    std::string digest(DigestSize, '\0');
    if (failed_ ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash_, reinterpret_cast<UCHAR*>(digest.data()), DigestSize, 0)))
        return {};
    failed_ = true;
    return digest;
}

std::string Sha256Of(std::string_view data)
{
    TauSha256 hash;
    hash.Update(data.data(), data.size());
    return hash.Finish();
}

std::string Sha256OfFile(HANDLE file)
{
    TauSha256 hash;
    std::string block(64 * 1024, '\0');
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
            return {};
        if (read == 0)
            return hash.Finish();
        hash.Update(block.data(), read);
    }
}
