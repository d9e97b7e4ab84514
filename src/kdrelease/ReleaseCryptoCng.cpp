#include "ReleaseCrypto.h"

#include "update/auCng.h"
#include "update/auSignedInfo.h"
#include "winutil/CngProvider.h"
#include "winutil/UniqueHandle.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <vector>

namespace {

struct CngKeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { BCryptDestroyKey(h); }
};
using UniqueCngKey = UniqueHandle<CngKeyTraits>;

void Check(NTSTATUS status, const char* step)
{
    if (!BCRYPT_SUCCESS(status)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        throw CryptoError(std::string("CNG: ") + step + " failed (" + code + ")");
    }
}

BCRYPT_ALG_HANDLE EcdsaP256()
{
    NTSTATUS status = 0;
    const BCRYPT_ALG_HANDLE provider = EcdsaP256Provider(&status);
    Check(status, "opening ECDSA P-256");
    return provider;
}

// BCRYPT_ECCPRIVATE_BLOB: the header, then X, Y and d.
std::vector<UCHAR> PrivateBlob(const P256Key& key)
{
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB));
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    header->cbKey = P256FieldSize;
    blob.insert(blob.end(), key.xy.begin(), key.xy.end());
    blob.insert(blob.end(), key.d.begin(), key.d.end());
    return blob;
}

}  // namespace

P256Key GenerateP256Key()
{
    UniqueCngKey key;
    Check(BCryptGenerateKeyPair(EcdsaP256(), key.put(), 256, 0), "generating a key");
    Check(BCryptFinalizeKeyPair(key.get(), 0), "generating a key");
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * P256FieldSize);
    ULONG size = 0;
    Check(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), static_cast<ULONG>(blob.size()),
                          &size, 0),
          "exporting the key");
    if (size != blob.size())
        throw CryptoError("CNG: the exported key has an unexpected size");
    const auto* parts = reinterpret_cast<const char*>(blob.data() + sizeof(BCRYPT_ECCKEY_BLOB));
    return {std::string(parts + 2 * P256FieldSize, P256FieldSize), std::string(parts, 2 * P256FieldSize)};
}

std::string SignP256(const P256Key& key, std::string_view message)
{
    std::vector<UCHAR> blob = PrivateBlob(key);
    UniqueCngKey handle;
    Check(BCryptImportKeyPair(EcdsaP256(), nullptr, BCRYPT_ECCPRIVATE_BLOB, handle.put(), blob.data(),
                              static_cast<ULONG>(blob.size()), 0),
          "importing the key");
    SecureZeroMemory(blob.data(), blob.size());
    std::string digest = Sha256Of(message);
    if (digest.empty())
        throw CryptoError("CNG: SHA-256 failed");
    std::string rs(2 * P256FieldSize, '\0');
    ULONG size = 0;
    Check(BCryptSignHash(handle.get(), nullptr, reinterpret_cast<UCHAR*>(digest.data()), Sha256Size,
                         reinterpret_cast<UCHAR*>(rs.data()), static_cast<ULONG>(rs.size()), &size, 0),
          "signing");
    if (size != rs.size())
        throw CryptoError("CNG: the signature has an unexpected size");
    return rs;
}

bool VerifyP256(std::string_view xy, std::string_view message, std::string_view rs)
{
    return VerifyP256Signature(xy, message, rs);
}

struct Sha256::State {
    TauSha256 hash;
};

Sha256::Sha256() : state_(std::make_unique<State>())
{
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size)
{
    state_->hash.Update(data, size);
}

std::string Sha256::Finish()
{
    std::string digest = state_->hash.Finish();
    if (digest.empty())
        throw CryptoError("CNG: SHA-256 failed");
    return digest;
}
