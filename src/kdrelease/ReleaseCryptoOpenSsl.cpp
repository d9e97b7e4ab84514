#include "ReleaseCrypto.h"

#include "update/auSignedInfo.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

namespace {

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* object) const { Free(object); }
};
using PKey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using PKeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using BigNumber = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;

void Check(bool ok, const char* step)
{
    if (!ok)
        throw CryptoError(std::string("libcrypto: ") + step + " failed");
}

const unsigned char* Bytes(std::string_view text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

// The key as libcrypto holds it: the public point always, the private
// scalar when given.
PKey KeyFromParts(std::string_view xy, std::string_view d)
{
    const std::string point = "\x04" + std::string(xy);
    ParamBuilder builder(OSSL_PARAM_BLD_new());
    BigNumber scalar(d.empty() ? nullptr : BN_bin2bn(Bytes(d), static_cast<int>(d.size()), nullptr));
    Check(builder && (d.empty() || scalar), "building the key");
    Check(OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) &&
              OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) &&
              (!scalar || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar.get())),
          "building the key");
    const Params params(OSSL_PARAM_BLD_to_param(builder.get()));
    const PKeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    Check(params && context && EVP_PKEY_fromdata_init(context.get()) > 0 &&
              EVP_PKEY_fromdata(context.get(), &key, scalar ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) > 0,
          "importing the key");
    return PKey(key);
}

}  // namespace

P256Key GenerateP256Key()
{
    const PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    Check(key != nullptr, "generating a key");
    BIGNUM* scalar = nullptr;
    Check(EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) > 0, "exporting the private key");
    const BigNumber owned(scalar);
    std::string d(P256FieldSize, '\0');
    Check(BN_bn2binpad(scalar, reinterpret_cast<unsigned char*>(d.data()), static_cast<int>(d.size())) > 0,
          "exporting the private key");
    unsigned char point[1 + 2 * P256FieldSize];
    std::size_t size = 0;
    Check(EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &size) > 0 &&
              size == sizeof point && point[0] == 4,
          "exporting the public key");
    return {std::move(d), std::string(reinterpret_cast<const char*>(point + 1), 2 * P256FieldSize)};
}

std::string SignP256(const P256Key& key, std::string_view message)
{
    const PKey pkey = KeyFromParts(key.xy, key.d);
    const DigestContext context(EVP_MD_CTX_new());
    std::size_t size = 0;
    Check(context && EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) > 0 &&
              EVP_DigestSign(context.get(), nullptr, &size, Bytes(message), message.size()) > 0,
          "signing");
    std::string der(size, '\0');
    Check(EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &size, Bytes(message),
                         message.size()) > 0,
          "signing");
    der.resize(size);
    auto rs = EcdsaSignatureToRS(der);
    Check(rs.has_value(), "reading the signature");
    return std::move(*rs);
}

bool VerifyP256(std::string_view xy, std::string_view message, std::string_view rs)
{
    if (xy.size() != 2 * P256FieldSize || rs.size() != 2 * P256FieldSize)
        return false;
    try {
        const PKey pkey = KeyFromParts(xy, {});
        const std::string der = EcdsaSignatureDer(rs);
        const DigestContext context(EVP_MD_CTX_new());
        return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) > 0 &&
               EVP_DigestVerify(context.get(), Bytes(der), der.size(), Bytes(message), message.size()) == 1;
    } catch (const CryptoError&) {
        // A point that is not on the curve cannot be imported: it verifies nothing.
        return false;
    }
}

struct Sha256::State {
    DigestContext context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : state_(std::make_unique<State>())
{
    Check(state_->context && EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) > 0, "SHA-256");
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size)
{
    Check(EVP_DigestUpdate(state_->context.get(), data, size) > 0, "SHA-256");
}

std::string Sha256::Finish()
{
    std::string digest(Sha256Size, '\0');
    unsigned size = 0;
    Check(EVP_DigestFinal_ex(state_->context.get(), reinterpret_cast<unsigned char*>(digest.data()), &size) > 0 &&
              size == Sha256Size,
          "SHA-256");
    return digest;
}
