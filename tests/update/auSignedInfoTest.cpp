// The text forms of signed releases: the rules of the signature line, strict
// decoding and the digest keys; natively also checked against the openssl
// command line, which makes the keys and signatures there.
#include "update/auSignedInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>
#ifndef _WIN32
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>
#endif

namespace {

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (char c : bytes) {
        hex += digits[static_cast<unsigned char>(c) >> 4];
        hex += digits[static_cast<unsigned char>(c) & 15];
    }
    return hex;
}

#ifndef _WIN32
std::string Shell(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return output;
    std::array<char, 4096> block;
    while (const std::size_t n = std::fread(block.data(), 1, block.size(), pipe))
        output.append(block.data(), n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

// A folder with a publisher key made by openssl, removed at the end.
struct OpensslKey {
    std::string dir;

    OpensslKey()
    {
        char name[] = "/tmp/keldora-sign-XXXXXX";
        dir = mkdtemp(name);
        Shell("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + dir + "/key.pem");
    }
    ~OpensslKey() { Shell("rm -rf " + dir); }

    std::string PublicKeyText() const
    {
        return Shell("openssl pkey -in " + dir + "/key.pem -pubout -outform DER | openssl base64 -A");
    }
    // The file signed as the publisher's instructions say.
    std::string SignedFile(const std::string& text) const
    {
        std::ofstream(dir + "/info.txt", std::ios::binary) << text;
        Shell("printf '#signature=%s\\n' \"$(openssl dgst -sha256 -sign " + dir + "/key.pem " + dir +
            "/info.txt | openssl base64 -A)\" >> " + dir + "/info.txt");
        std::ostringstream file;
        file << std::ifstream(dir + "/info.txt", std::ios::binary).rdbuf();
        return file.str();
    }
};

TEST(SignedInfo, OpensslKeysAndSignaturesInThePlatformsForm)
{
    const OpensslKey key;
    const auto xy = PublisherKeyXY(key.PublicKeyText());
    ASSERT_TRUE(xy);
    // openssl prints the point as 04 || X || Y in colon-separated hex.
    std::string point;
    const std::string listing =
        Shell("openssl pkey -in " + key.dir + "/key.pem -pubout -text -noout | awk '/^pub:/{f=1;next} /^[A-Z]/{f=0} f'");
    for (char c : listing) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            point += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ("04" + Hex(*xy), point);

    const std::string text = "#version=2.0\r\n#url=http://example.com/App.exe\r\n#SHA256=" + std::string(64, 'a') +
                             "\r\n#message={Line\r\nline}\r\n";
    for (int round = 0; round < 8; ++round) {
        const std::string file = key.SignedFile(text);
        const TauSignedInfo parts = SplitSignedInfo(file);
        ASSERT_EQ(parts.failure, "");
        EXPECT_EQ(parts.signedText, text) << "the signed text is everything before the signature line";
        // r and s as openssl reads them from its own DER, each in 32 bytes
        // (a short r or s shows up now and then among eight signatures).
        const std::string listing = Shell("openssl dgst -sha256 -sign " + key.dir + "/key.pem " + key.dir +
                                        "/info.txt >/dev/null; sed -n '$s/^#signature=//p' " + key.dir +
                                        "/info.txt | openssl base64 -d -A | openssl asn1parse -inform DER");
        std::istringstream lines(listing);
        std::string line, rs;
        while (std::getline(lines, line)) {
            if (line.find("INTEGER") == std::string::npos)
                continue;
            const std::string value = line.substr(line.rfind(':') + 1);
            rs += std::string(64 - value.size(), '0') + value;
        }
        EXPECT_EQ(Hex(parts.signature), rs);
    }
}

#endif

TEST(SignedInfo, SignatureLineRules)
{
    const std::string sig = "MEUCIQDkG/IAyZrfg2VyucNNhjTwSQ6cVaybZgkl+i4vW+KSmAIgQjNei706S2AVTtM7lKbf1iBQmnxLuL20jVAe5HmRaaY=";
    ASSERT_TRUE(DecodeBase64(sig));
    ASSERT_TRUE(EcdsaSignatureToRS(*DecodeBase64(sig)));
    EXPECT_EQ(SplitSignedInfo("#url=a\n#signature=" + sig).signedText, "#url=a\n");
    EXPECT_EQ(SplitSignedInfo("#url=a\r\n#Signature=" + sig + "\r\n").signedText, "#url=a\r\n");
    EXPECT_EQ(SplitSignedInfo("#signature=" + sig + "\n").signedText, "");
    EXPECT_EQ(SplitSignedInfo("#signature=x\n#url=a\n#signature=" + sig).signedText, "#signature=x\n#url=a\n")
        << "the last signature line counts; earlier ones are signed text";

    for (const std::string& bad : std::vector<std::string>{
             std::string("#url=a\n"),                             // unsigned
             std::string("#url=a\n#signature=\n"),                // empty
             "#url=a #signature=" + sig,                          // not at a line start
             "#url=a\r#signature=" + sig,                         // a lone CR does not end a line
             "#signature=" + sig + "\n#url=a\n",                  // not the last line
             "#signature=" + sig + "\t#url=http://evil/\n",       // more on its line
             "#signature=" + sig + "\n\n",                        // an empty line after it
             "#signature=" + sig.substr(0, sig.size() - 4) + "\n",  // truncated
             "#signature=" + sig.substr(0, sig.size() - 1) + "\n",  // padding lost
             "#signature=" + sig.substr(0, 40) + " " + sig.substr(40) + "\n",
             "#signature=" + std::string(sig).replace(10, 1, "-") + "\n",  // base64url
             "#signature=" + std::string(sig).replace(10, 1, "\xc3") + "\n",
             "#signature=" + std::string(sig.size() / 4 * 4, 'A') + "\n",  // base64, no DER
         }) {
        const TauSignedInfo parts = SplitSignedInfo(bad);
        EXPECT_NE(parts.failure, "") << bad;
        EXPECT_EQ(parts.signature, "") << bad;
    }
}

TEST(SignedInfo, StrictDecoding)
{
    EXPECT_EQ(DecodeBase64(""), "");
    EXPECT_EQ(DecodeBase64("QQ=="), "A");
    EXPECT_EQ(DecodeBase64("QUI="), "AB");
    EXPECT_EQ(DecodeBase64("QUJD"), "ABC");
    for (const char* bad : {"QR==", "QUJ=", "QQ", "QQ=", "Q===", "====", "QQ==QUJD", "QU\nJD", "QUJD ", "QU_D"})
        EXPECT_FALSE(DecodeBase64(bad)) << bad;

    const std::string hex = "00FFa0b1C2d3e4f5061728394a5b6c7d8e9fAABBCCDDEEFF0011223344556677";
    ASSERT_TRUE(DecodeSha256Hex(hex));
    EXPECT_EQ(Hex(*DecodeSha256Hex(hex)), "00FFA0B1C2D3E4F5061728394A5B6C7D8E9FAABBCCDDEEFF0011223344556677");
    for (const std::string& bad : {hex.substr(1), hex + "0", " " + hex.substr(1), hex.substr(0, 63) + "g",
                                   std::string(), std::string(64, '\0')})
        EXPECT_FALSE(DecodeSha256Hex(bad)) << bad;
}

TEST(SignedInfo, DerSignaturesAndKeysOfOtherShapesAreRefused)
{
    const std::string r(32, '\x11'), s(32, '\x22');
    const auto integer = [](const std::string& v) { return std::string{'\x02', static_cast<char>(v.size())} + v; };
    const auto sequence = [](const std::string& v) { return std::string{'\x30', static_cast<char>(v.size())} + v; };
    EXPECT_EQ(EcdsaSignatureToRS(sequence(integer(r) + integer(s))), r + s);
    EXPECT_EQ(EcdsaSignatureToRS(sequence(integer("\x01") + integer(std::string("\0\x80", 2) + std::string(31, 1)))),
              std::string(31, '\0') + "\x01" + "\x80" + std::string(31, 1))
        << "short r, s with the zero that keeps it positive";
    for (const std::string& bad : std::vector<std::string>{
             std::string(),
             sequence(integer(r)),
             sequence(integer(r) + integer(s) + std::string(1, '\0')),
             sequence(integer(r) + integer(s)).substr(0, 60),
             sequence(integer(std::string(1, '\0') + r) + integer(s)),      // zero not needed
             sequence(integer("\x80" + r.substr(1)) + integer(s)),          // negative
             sequence(integer(std::string(33, '\x11')) + integer(s)),       // too long
             sequence(integer(std::string(1, '\0')) + integer(s)),          // r = 0
             sequence(integer(std::string()) + integer(s)),
             "\x31" + sequence(integer(r) + integer(s)).substr(1),
             "\x30\x81\x44" + integer(r) + integer(s),                      // long-form length
         })
        EXPECT_FALSE(EcdsaSignatureToRS(bad)) << Hex(bad);

    const std::string key = *DecodeBase64("MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEL4A2eWukxHaVM0ch2TqdOYbL9cGZvvtlEolprBGtS5"
                                          "LSdkku4GAepb5gY/ZsrMqjKEa4hR+G8hOqHk7SIs44mQ==");
    ASSERT_TRUE(P256PublicKeyXY(key));
    EXPECT_EQ(Hex(P256PublicKeyXY(key)->substr(0, 4)), "2F803679");
    std::string otherCurve = key;
    otherCurve[22] = 0x22;
    std::string compressed = key;
    compressed[26] = 0x02;
    for (const std::string& bad : {key.substr(0, 90), key + std::string(1, '\0'), otherCurve, compressed, std::string()})
        EXPECT_FALSE(P256PublicKeyXY(bad)) << Hex(bad);
    EXPECT_FALSE(PublisherKeyXY("-----BEGIN PUBLIC KEY-----"));
}

TEST(SignedInfo, DigestKeysFollowTheAddressKeys)
{
    const std::string a(64, 'a'), b(64, 'B'), c(64, '0');
    const TauInfoFileText info("#url=x\n#url0=y\n#url3=z\n#sha256=" + a + "\n#SHA256_0=" + b + "\n#sha256_3=" + c +
                               "\n#sha256_1=" + a + "\n");
    const TauReleaseDigests digests = ReleaseDigests(info);
    ASSERT_EQ(digests.failure, "");
    ASSERT_EQ(digests.files.size(), 3u);
    EXPECT_EQ(digests.files[0], std::make_pair(std::string("x"), *DecodeSha256Hex(a)));
    EXPECT_EQ(digests.files[1], std::make_pair(std::string("y"), *DecodeSha256Hex(b)));
    EXPECT_EQ(digests.files[2], std::make_pair(std::string("z"), *DecodeSha256Hex(c)));

    EXPECT_NE(ReleaseDigests(TauInfoFileText("#url=x\n#url0=y\n#sha256=" + a + "\n")).failure, "");
    EXPECT_NE(ReleaseDigests(TauInfoFileText("#url=x\n#sha256=" + a.substr(1) + "\n")).failure, "");
    EXPECT_NE(ReleaseDigests(TauInfoFileText("#url=x\n#sha256_=" + a + "\n")).failure, "");
    EXPECT_EQ(ReleaseDigests(TauInfoFileText("#version=2\n")).files.size(), 0u);
}

// The cheaper roads to a file sit beside its digest key, numbered the same
// way; a road that is not whole is left out with a note, and the digests and
// files of the release read exactly as without them.
TEST(SignedInfo, CompressedFormsAndPatchesAreOptionalKeysOfEachFile)
{
    const std::string a(64, 'a'), b(64, 'B'), c(64, '0');
    const std::string plain = "#version=2\n#url=x\n#sha256=" + a + "\n#url0=y\n#sha256_0=" + b +
                              "\n#url3=w\n#url4=z\n#sha256_4=" + c + "\n";
    const std::string roads = plain + "#zurl=x.z\n#zsha256=" + b + "\n#ZSIZE=12\n#patch_1=" + a + " " + b +
                              " 7 x.p1\n#patch_2=" + c + " " + a + " 9 x.p2\n#patch_4=" + a + " " + a +
                              " 1 after-a-gap\n#zurl_0=y.z\n#zsha256_0=" + a + "\n#zsize_0=3\n#patch_0_1=" + b +
                              " " + c + " 9999999999999999999 y.p\n#patch_4_1=" + c + " " + c +
                              " 5 https://h/z%20.p?a=b\n";
    const TauInfoFileText info(roads);
    EXPECT_EQ(info.FileList(), TauInfoFileText(plain).FileList());
    EXPECT_EQ(GivenDigests(info).files, GivenDigests(TauInfoFileText(plain)).files);
    EXPECT_EQ(GivenDigests(info).files.size(), 3u);
    const TauReleaseRoads read = ReleaseRoads(info);
    EXPECT_EQ(read.notes, std::vector<std::string>());
    ASSERT_EQ(read.files.size(), 4u);
    const TauFileRoads& x = read.files[0];
    EXPECT_EQ(x.url, "x");
    ASSERT_TRUE(x.compressed);
    EXPECT_EQ(x.compressed->url, "x.z");
    EXPECT_EQ(x.compressed->sha256, *DecodeSha256Hex(b));
    EXPECT_EQ(x.compressed->size, 12u);
    ASSERT_EQ(x.patches.size(), 2u) << "patches end at the first missing number";
    EXPECT_EQ(x.patches[0].url, "x.p1");
    EXPECT_EQ(x.patches[0].sourceSha256, *DecodeSha256Hex(a));
    EXPECT_EQ(x.patches[0].sha256, *DecodeSha256Hex(b));
    EXPECT_EQ(x.patches[0].size, 7u);
    EXPECT_EQ(x.patches[1].url, "x.p2");
    const TauFileRoads& y = read.files[1];
    ASSERT_TRUE(y.compressed);
    EXPECT_EQ(y.compressed->size, 3u);
    ASSERT_EQ(y.patches.size(), 1u);
    EXPECT_EQ(y.patches[0].size, 9999999999999999999u);
    EXPECT_FALSE(read.files[2].compressed);
    EXPECT_TRUE(read.files[2].patches.empty()) << "#patch_4= is the first file's, not url4's";
    EXPECT_EQ(read.files[3].url, "z");
    ASSERT_EQ(read.files[3].patches.size(), 1u);
    EXPECT_EQ(read.files[3].patches[0].url, "https://h/z%20.p?a=b");
    EXPECT_TRUE(ReleaseRoads(TauInfoFileText(plain)).notes.empty());

    // Each malformed road is left out on its own, with its own note.
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"#zurl=x.z\n#zsha256=" + b + "\n", "compressed form of x"},
        {"#zurl=x.z\n#zsize=1\n", "compressed form of x"},
        {"#zsha256=" + b + "\n#zsize=1\n", "compressed form of x"},
        {"#zurl=x.z\n#zsha256=" + b.substr(1) + "\n#zsize=1\n", "compressed form of x"},
        {"#zurl=x.z\n#zsha256=" + b + "\n#zsize=-1\n", "compressed form of x"},
        {"#zurl=x.z\n#zsha256=" + b + "\n#zsize=12345678901234567890\n", "compressed form of x"},
        {"#zurl=x z\n#zsha256=" + b + "\n#zsize=1\n", "compressed form of x"},
        {"#patch_1=" + a + " " + b + " 7\n", "patch 1 of x"},
        {"#patch_1=" + a + "  " + b + " 7 x.p\n", "patch 1 of x"},
        {"#patch_1=" + a + " " + b + " 7 \n", "patch 1 of x"},
        {"#patch_1=" + a + " " + b + " 7 x p\n", "patch 1 of x"},
        {"#patch_1=" + a + " " + b + " seven x.p\n", "patch 1 of x"},
        {"#patch_1=" + a.substr(2) + " " + b + " 7 x.p\n", "patch 1 of x"},
        {"#patch_0_1=" + a + " " + b + "x 7 y.p\n", "patch 1 of y"},
    };
    for (const auto& [keys, note] : bad) {
        const TauReleaseRoads one = ReleaseRoads(TauInfoFileText(plain + keys));
        ASSERT_EQ(one.notes.size(), 1u) << keys;
        EXPECT_NE(one.notes[0].find(note), std::string::npos) << keys << one.notes[0];
        EXPECT_FALSE(one.files[0].compressed) << keys;
        EXPECT_TRUE(one.files[0].patches.empty() && one.files[1].patches.empty()) << keys;
        EXPECT_EQ(GivenDigests(TauInfoFileText(plain + keys)).files, GivenDigests(TauInfoFileText(plain)).files) << keys;
    }
    // A bad patch leaves the good ones after it.
    const TauReleaseRoads mixed =
        ReleaseRoads(TauInfoFileText(plain + "#patch_1=bad\n#patch_2=" + a + " " + b + " 7 x.p2\n"));
    ASSERT_EQ(mixed.files[0].patches.size(), 1u);
    EXPECT_EQ(mixed.files[0].patches[0].url, "x.p2");
    EXPECT_EQ(mixed.notes.size(), 1u);
}

}  // namespace
