#include "auCng.h"

#include "core/StrCon.h"
#include "update/auSignedInfo.h"
#include "winutil/CngProvider.h"

#include <algorithm>
#include <vector>

namespace {

struct KeyHandle {
    BCRYPT_KEY_HANDLE handle = nullptr;
    ~KeyHandle()
    {
        if (handle)
            BCryptDestroyKey(handle);
    }
};

}  // namespace

bool VerifyP256Signature(std::string_view publicKeyXY, std::string_view message, std::string_view signature)
{
    const BCRYPT_ALG_HANDLE provider = EcdsaP256Provider();
    if (!provider || publicKeyXY.size() != 2 * P256FieldSize || signature.size() != 2 * P256FieldSize)
        return false;
    std::string digest = Sha256Of(message);
    if (digest.empty())
        return false;
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + publicKeyXY.size());
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = P256FieldSize;
    std::copy(publicKeyXY.begin(), publicKeyXY.end(), blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB));
    KeyHandle key;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(provider, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key.handle, blob.data(),
                                            static_cast<ULONG>(blob.size()), 0)))
        return false;
    std::string rs(signature);
    return BCRYPT_SUCCESS(BCryptVerifySignature(key.handle, nullptr, reinterpret_cast<UCHAR*>(digest.data()),
                                                Sha256Size, reinterpret_cast<UCHAR*>(rs.data()), rs.size(), 0));
}

std::string RandomHex()
{
    unsigned char bytes[16];
    if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return {};
    return HexOfBytes({reinterpret_cast<const char*>(bytes), sizeof bytes});
}
