// Natively only: kdrelease's key and signature forms against libcrypto's own,
// the openssl command line and kdrelease sharing keys and checking each
// other's releases, and the Windows build, run under Wine, signing a release
// that this build verifies (and the other way round).
#include "ReleaseTestSupport.h"

#include "kdrelease/KeyCoding.h"
#include "kdrelease/ReleaseFiles.h"
#include "update/auSignedInfo.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

std::string BioText(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

// The key's parts as libcrypto gives them.
P256Key PartsOf(EVP_PKEY* key)
{
    BIGNUM* scalar = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &scalar), 1);
    std::string d(32, '\0');
    BN_bn2binpad(scalar, reinterpret_cast<unsigned char*>(d.data()), 32);
    BN_free(scalar);
    unsigned char point[65];
    std::size_t size = 0;
    EXPECT_EQ(EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &size), 1);
    return {d, std::string(reinterpret_cast<char*>(point + 1), 64)};
}

std::string LibcryptoPem(EVP_PKEY* key, bool traditional)
{
    const Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    if (traditional)
        PEM_write_bio_PrivateKey_traditional(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    else
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    return BioText(bio.get());
}

std::string LibcryptoSignature(EVP_PKEY* key, const std::string& message)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::string der(80, '\0');
    std::size_t size = der.size();
    EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key);
    EXPECT_EQ(EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &size,
                             reinterpret_cast<const unsigned char*>(message.data()), message.size()),
              1);
    der.resize(size);
    return der;
}

TEST(KeyCodingOpenSsl, OurKeyAndSignatureFormsAreLibcryptosToTheByte)
{
    for (int i = 0; i < 24; ++i) {
        const PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
        ASSERT_TRUE(key);
        const P256Key parts = PartsOf(key.get());

        const std::string pkcs8 = LibcryptoPem(key.get(), false);
        EXPECT_EQ(PrivateKeyPem(parts), pkcs8) << "as openssl genpkey writes it";
        for (const std::string& pem : {pkcs8, LibcryptoPem(key.get(), true)}) {
            const P256KeyRead read = ReadPrivateKeyPem(pem);
            ASSERT_TRUE(read.key) << read.failure << "\n" << pem;
            EXPECT_EQ(read.key->d, parts.d);
            EXPECT_EQ(read.key->xy, parts.xy);
        }
        const std::string ours = PrivateKeyPem(parts);
        const Bio in(BIO_new_mem_buf(ours.data(), static_cast<int>(ours.size())), BIO_free);
        const PKey back(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
        ASSERT_TRUE(back);
        EXPECT_EQ(EVP_PKEY_eq(back.get(), key.get()), 1);

        unsigned char* spki = nullptr;
        const int length = i2d_PUBKEY(key.get(), &spki);
        EXPECT_EQ(P256PublicKeyDer(parts.xy),
                  std::string(reinterpret_cast<char*>(spki), static_cast<std::size_t>(length)));
        OPENSSL_free(spki);

        const std::string der = LibcryptoSignature(key.get(), "release " + std::to_string(i));
        const auto rs = EcdsaSignatureToRS(der);
        ASSERT_TRUE(rs);
        EXPECT_EQ(EcdsaSignatureDer(*rs), der);
    }
}

// Runs a host command line; its exit code, its output in `output`.
int Shell(const std::string& command, std::string* output = nullptr)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

// The update.ini a release of product P brings.
std::string ReleaseIni(const std::string& version, const std::string& publicKey)
{
    return "[UpdateInfo]\r\nProcessName=app.exe\r\nVersion=" + version + "\r\nPublicKey=" + publicKey +
           "\r\nProduct=P\r\n";
}

TEST(KdReleaseOpenSsl, OpensslAndKdreleaseShareKeysAndVerifyEachOthersReleases)
{
    TempFolder temp;
    temp.Add("release/app.exe", "new program");
    const std::string key = temp / "openssl.pem";
    ASSERT_EQ(Shell("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + Quoted(key)), 0);
    std::string publicKey;
    ASSERT_EQ(Shell("openssl pkey -in " + Quoted(key) + " -pubout -outform DER | openssl base64 -A", &publicKey), 0);
    temp.Add("release/update.ini", ReleaseIni("3", publicKey));

    // kdrelease signs with openssl's key; openssl verifies what it signed.
    ReleaseRun run = RunKdrelease({"make", "--key", key, "--version", "3", "--product", "P", "--base-url",
                                   "https://e.example/", "--expires", "7", temp / "release"},
                                  std::chrono::system_clock::now());
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(PublicKeyIn(run.out), publicKey);
    const TauSignedInfo parts = SplitSignedInfo(ReadText(temp / "release/info.txt"));
    ASSERT_EQ(parts.failure, "");
    temp.Add("signed.txt", parts.signedText);
    temp.Add("signature.der", EcdsaSignatureDer(parts.signature));
    std::string said;
    EXPECT_EQ(Shell("openssl pkey -in " + Quoted(key) + " -pubout -out " + Quoted(temp / "public.pem") +
                        " && openssl dgst -sha256 -verify " + Quoted(temp / "public.pem") + " -signature " +
                        Quoted(temp / "signature.der") + " " + Quoted(temp / "signed.txt"),
                    &said),
              0);
    EXPECT_EQ(said, "Verified OK\n");

    // openssl reads kdrelease's key.
    ASSERT_EQ(RunKdrelease({"keygen", temp / "kdrelease.pem"}).code, 0);
    EXPECT_EQ(Shell("openssl pkey -in " + Quoted(temp / "kdrelease.pem") + " -noout"), 0);

    // A release made by hand as the README's fallback says verifies with
    // kdrelease, its update.ini too.
    const std::string info = temp / "by-hand.txt";
    const std::string steps =
        "cd " + Quoted(Utf8OfPath(temp.Path())) + " && " +
        "printf '#version=3\\r\\n#url=https://e.example/app.exe\\r\\n#sha256=%s\\r\\n' "
        "\"$(openssl dgst -sha256 -r release/app.exe | cut -c1-64)\" > by-hand.txt && "
        "printf '#url0=https://e.example/update.ini\\r\\n#sha256_0=%s\\r\\n' "
        "\"$(openssl dgst -sha256 -r release/update.ini | cut -c1-64)\" >> by-hand.txt && "
        "printf '#product=%s\\r\\n#expires=%s\\r\\n' P \"$(date -u -d '+30 days' +%Y-%m-%dT%H:%M:%SZ)\" >> by-hand.txt "
        "&& "
        "printf '#signature=%s\\n' \"$(openssl dgst -sha256 -sign openssl.pem by-hand.txt | openssl base64 -A)\" "
        ">> by-hand.txt";
    ASSERT_EQ(Shell(steps, &said), 0) << said;
    run = RunKdrelease({"verify", "--public-key", publicKey, "--product", "P", info, temp / "release"},
                       std::chrono::system_clock::now());
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find(": would install 3 (2 files) for product P, expires "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(": each of its 2 files matches its signed digest and size\n"), std::string::npos)
        << "no size in the file: the digest alone is compared";
}

TEST(KdReleaseOpenSsl, TheWindowsBuildSignsUnderWineAndThisBuildVerifiesAndBack)
{
    const std::string build = KELDORA_WIN64_BUILD;
    const std::string program = build + "/bin/kdrelease.exe";
    if (!Exists(program))
        GTEST_SKIP() << program << " is not built: build the x86_64 Windows target first";
    // A prefix of its own: the x86_64 suite may be running in the build's own meanwhile.
    const std::string wine = Quoted(KELDORA_SOURCE_DIR "/cmake/wine-run.sh") + " " +
                             Quoted(build + "/wine-native/prefix") + " " + Quoted(program);
    const auto windows = [](const std::string& path) { return Quoted("Z:" + path); };

    TempFolder temp;
    temp.Add("release/app.exe", "new program");
    temp.Add("release/readme.txt", "notes");
    std::string said;
    ASSERT_EQ(Shell(wine + " keygen " + windows(temp / "wine.pem"), &said), 0) << said;
    const std::string publicKey = PublicKeyIn(said);
    temp.Add("release/update.ini", ReleaseIni("2.0", publicKey));
    ASSERT_EQ(Shell(wine + " make --key " + windows(temp / "wine.pem") + " --version 2.0 --product P --base-url " +
                        "https://e.example/ --expires 2 " + windows(temp / "release"),
                    &said),
              0)
        << said;
    ReleaseRun run = RunKdrelease({"verify", "--public-key", publicKey, temp / "release/info.txt", temp / "release"},
                                  std::chrono::system_clock::now());
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("would install 2.0 (3 files) for product P"), std::string::npos) << run.out;
    EXPECT_EQ(ReadPrivateKeyPem(ReadText(temp / "wine.pem")).key->xy, *PublisherKeyXY(publicKey));

    // This build signs with the key the Windows build made; the Windows build verifies.
    temp.Add("release/update.ini", ReleaseIni("2.1", publicKey));
    run = RunKdrelease({"make", "--key", temp / "wine.pem", "--version", "2.1", "--product", "P", "--base-url",
                        "https://e.example/", "--no-expiry", "--force", temp / "release"},
                       std::chrono::system_clock::now());
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(Shell(wine + " verify --public-key " + publicKey + " " + windows(temp / "release/info.txt") + " " +
                        windows(temp / "release"),
                    &said),
              0)
        << said;
    EXPECT_NE(said.find("would install 2.1 (3 files) for product P, never expires"), std::string::npos) << said;
    temp.Add("release/app.exe", "changed");
    EXPECT_EQ(Shell(wine + " verify --public-key " + publicKey + " " + windows(temp / "release/info.txt") + " " +
                        windows(temp / "release"),
                    &said),
              1);
    EXPECT_NE(said.find("  folder: the SHA-256 of app.exe differs from its signed digest"), std::string::npos) << said;
}

}  // namespace
