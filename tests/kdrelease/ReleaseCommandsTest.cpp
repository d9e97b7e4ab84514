// kdrelease's sub-commands in this process on real folders: the file make
// writes, key by key; what verify says of it; and every input refused with
// its reason and nothing written.
#include "ReleaseTestSupport.h"

#include "kdrelease/KeyCoding.h"
#include "kdrelease/ReleaseCrypto.h"
#include "kdrelease/ReleaseFiles.h"
#include "kdrelease/ReleaseInfo.h"
#include "kdrelease/ReleaseUpdateIni.h"
#include "update/auSignedInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr const char* AbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* EmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string HexSha256(const std::string& bytes)
{
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    std::string hex;
    for (const unsigned char c : hash.Finish())
        hex += "0123456789abcdef"[c >> 4] + std::string(1, "0123456789abcdef"[c & 15]);
    return hex;
}

// The update.ini a release brings, as installed copies need it.
std::string ReleaseIni(const std::string& version, const std::string& product, const std::string& publicKey,
                       const std::string& process = "App.exe")
{
    return "[UpdateInfo]\r\nProcessName=" + process + "\r\nVersion=" + version + "\r\nInfoURL=https://dl.example.com/"
           "rel/info.txt\r\nPublicKey=" + publicKey + "\r\nProduct=" + product + "\r\n";
}

// A publisher's key and a release folder of four files and its update.ini.
struct Publisher {
    TempFolder temp;
    std::string key = temp / "publisher.pem";
    std::string publicKey;
    std::string folder = temp / "release";
    std::string info = temp / "release/info.txt";

    Publisher()
    {
        const ReleaseRun run = RunKdrelease({"keygen", key});
        EXPECT_EQ(run.code, 0) << run.err;
        publicKey = PublicKeyIn(run.out);
        temp.Add("release/App.exe", "abc");
        temp.Add("release/b.dll", "");
        temp.Add("release/c.txt", "abc");
        temp.Add("release/d.txt", "");
        ini = ReleaseIni("2.0.1", "Keldora Demo", publicKey);
        temp.Add("release/update.ini", ini);
    }
    std::string ini;

    std::vector<std::string> Make(std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> arguments = {"make",         "--key",      key,
                                              "--version",    "2.0.1",      "--product",
                                              "Keldora Demo", "--base-url", "https://dl.example.com/rel"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(folder);
        return arguments;
    }
};

TEST(ReleaseCommands, MakeWritesEveryKeySignedLastAndVerifySaysWhatACopyWouldDo)
{
    Publisher p;
    EXPECT_EQ(p.publicKey.size(), 124u);
    EXPECT_EQ(ReadPrivateKeyPem(ReadText(p.key)).key->xy, *PublisherKeyXY(p.publicKey));
    const std::string message = p.temp.Add("notes.html",
                                           "\xEF\xBB\xBF"
                                           "F\xC3\xBCr <b>alle</b>\r\nZeile 2");

    ReleaseRun run = RunKdrelease(p.Make(
        {"--message", message, "--more-info", "https://example.com/notes", "--expires", "30", "--rollout", "25"}));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("  https://dl.example.com/rel/App.exe (3 bytes)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("warning: the release holds program files (App.exe) but not freshet.exe"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(PublicKeyIn(run.out), p.publicKey);
    const std::string text = ReadText(p.info);
    const std::string expected = std::string("#version=2.0.1\r\n#product=Keldora Demo\r\n") +
                                 "#expires=2026-07-01T12:00:00Z\r\n#rollout=25\r\n"
                                 "#moreinfourl=https://example.com/notes\r\n"
                                 "#url=https://dl.example.com/rel/App.exe\r\n#sha256=" +
                                 AbcSha256 +
                                 "\r\n#size=3\r\n"
                                 "#url0=https://dl.example.com/rel/b.dll\r\n#sha256_0=" +
                                 EmptySha256 +
                                 "\r\n#size_0=0\r\n"
                                 "#url3=https://dl.example.com/rel/c.txt\r\n#sha256_3=" +
                                 AbcSha256 +
                                 "\r\n#size_3=3\r\n"
                                 "#url4=https://dl.example.com/rel/d.txt\r\n#sha256_4=" +
                                 EmptySha256 +
                                 "\r\n#size_4=0\r\n"
                                 "#url5=https://dl.example.com/rel/update.ini\r\n#sha256_5=" +
                                 HexSha256(p.ini) + "\r\n#size_5=" + std::to_string(p.ini.size()) + "\r\n"
                                 "#message={F\xC3\xBCr <b>alle</b>\r\nZeile 2}\r\n#signature=";
    ASSERT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_TRUE(text.ends_with("\r\n"));
    const TauSignedInfo parts = SplitSignedInfo(text);
    ASSERT_EQ(parts.failure, "");
    EXPECT_TRUE(VerifyP256(*PublisherKeyXY(p.publicKey), parts.signedText, parts.signature));

    run = RunKdrelease({"verify", "--public-key", p.publicKey, p.info, p.folder});
    EXPECT_EQ(run.code, 0) << run.out;
    EXPECT_EQ(run.out, p.info +
                           ": would install 2.0.1 (5 files) for product Keldora Demo, expires "
                           "2026-07-01T12:00:00Z, for 25% of installed copies\n" +
                           p.folder + ": each of its 5 files matches its signed digest and size\n");
    run = RunKdrelease({"verify", "--public-key", "PublicKey=" + p.publicKey, "--product", "keldora demo",
                        "--installed", "2.0.1", p.info});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, p.info + ": an installed 2.0.1 would find no update (the file offers 2.0.1)\n");

    // Once written, the file is replaced only on request, and signed anew.
    run = RunKdrelease(p.Make());
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "kdrelease: " + p.info + " already exists; --force replaces it\n");
    EXPECT_EQ(ReadText(p.info), text);
    run = RunKdrelease(p.Make({"--force"}));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(ReadText(p.info).find("#expires=2026-08-30T12:00:00Z\r\n"), std::string::npos) << "90 days by default";
    run = RunKdrelease(p.Make({"--force", "--no-expiry"}));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadText(p.info).find("#expires="), std::string::npos) << "no expiry only when asked for";
    EXPECT_EQ(RunKdrelease({"verify", "--public-key", p.publicKey, p.info}).out,
              p.info + ": would install 2.0.1 (5 files) for product Keldora Demo, never expires\n");
    run = RunKdrelease(p.Make({"--force", "--expires", "14"}));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(RunKdrelease({"verify", "--public-key", p.publicKey, p.info}, FixedNow() + std::chrono::seconds(1)).out,
              p.info + ": would install 2.0.1 (5 files) for product Keldora Demo, expires 2026-06-15T12:00:00Z\n" +
                  "warning: the information file expires at 2026-06-15T12:00:00Z, within 14 days; installed copies "
                  "then find no update until a release is signed anew\n");
    EXPECT_EQ(RunKdrelease({"verify", "--public-key", p.publicKey, p.info}).out.find("warning"), std::string::npos)
        << "14 days exactly is not within 14 days";
}

struct BadMake {
    const char* what;
    std::vector<std::string> extra;
    std::vector<std::string> reasons;
};

TEST(ReleaseCommands, BadInputsAreRefusedEachWithItsReasonAndNothingIsWritten)
{
    Publisher p;
    const std::string other = RunKdrelease({"keygen", p.temp / "other.pem"}).out;
    P256Key mixed = *ReadPrivateKeyPem(ReadText(p.key)).key;
    mixed.xy = *PublisherKeyXY(PublicKeyIn(other));
    const std::string mixedKey = p.temp.Add("mixed.pem", PrivateKeyPem(mixed));
    const std::string garbage = p.temp.Add("garbage.pem", "not a key at all");
    const std::string cut = p.temp.Add("cut.pem", ReadText(p.key).substr(0, 100));
    const std::string latin1 = p.temp.Add("latin1.txt", "F\xFCr alle");
    const std::string brace = p.temp.Add("brace.txt", "a } b");
    const std::string key = p.temp.Add("key.txt", "<a href=\"x\">#url4=https://evil.example/x.exe</a>");

    const std::vector<BadMake> cases = {
        {"unreadable key", {"--key", p.temp / "missing.pem"}, {"cannot read " + (p.temp / "missing.pem")}},
        {"no key", {"--key", garbage}, {"garbage.pem: the file holds no PEM key"}},
        {"cut key", {"--key", cut}, {"cut.pem: a PEM block of the key file is not closed"}},
        {"mixed key",
         {"--key", mixedKey},
         {"mixed.pem: the public key in the file does not belong to its private key"}},
        {"latin-1 message", {"--message", latin1}, {"latin1.txt: the message is not UTF-8 text"}},
        {"brace", {"--message", brace}, {"brace.txt: the message holds \"}\""}},
        {"key in message", {"--message", key}, {"key.txt: the message holds \"#url4=\", which the engine would read"}},
        {"letters", {"--version", "2.0a"}, {"the version \"2.0a\" is not one to four decimal numbers"}},
        {"five parts and a bad rollout",
         {"--version", "1.2.3.4.5", "--rollout", "101"},
         {"the version \"1.2.3.4.5\"", "the rollout \"101\" is not a whole percentage from 0 to 100"}},
        {"negative rollout", {"--rollout", "-1"}, {"the rollout \"-1\""}},
        {"no expiry", {"--expires", "0"}, {"the expiry \"0\" is not a whole number of days from 1 to 36500"}},
        {"http",
         {"--base-url", "http://dl.example.com/"},
         {"the base URL is not https; plain http is for test servers only"}},
        {"ftp", {"--base-url", "ftp://dl.example.com/"}, {"is no http or https address of a host"}},
        {"query", {"--base-url", "https://dl.example.com/get?file="}, {"the base URL has a query or fragment"}},
        {"more info", {"--more-info", "file:///C:/notes.html"}, {"the more-info address \"file:///C:/notes.html\""}},
        {"product", {"--product", "A #url9=x"}, {"the product name holds \"#url9=\""}},
    };
    for (const BadMake& c : cases) {
        std::vector<std::string> arguments = p.Make();
        arguments.pop_back();
        // A later option of the same name would be a repeat: the case's own values replace the defaults.
        for (std::size_t i = 0; i + 1 < c.extra.size(); i += 2) {
            const auto at = std::find(arguments.begin(), arguments.end(), c.extra[i]);
            if (at != arguments.end())
                *(at + 1) = c.extra[i + 1];
            else
                arguments.insert(arguments.end(), {c.extra[i], c.extra[i + 1]});
        }
        arguments.push_back(p.folder);
        const ReleaseRun run = RunKdrelease(arguments);
        EXPECT_EQ(run.code, 1) << c.what;
        EXPECT_EQ(run.err.rfind("kdrelease: ", 0), 0u) << c.what;
        for (const std::string& reason : c.reasons)
            EXPECT_NE(run.err.find(reason), std::string::npos) << c.what << ": " << run.err;
        EXPECT_FALSE(Exists(p.info)) << c.what;
    }

    // Folders the engine could not install from.
    EXPECT_EQ(RunKdrelease(p.Make()).code, 0) << "the release itself is good";
    std::filesystem::remove(std::filesystem::path(p.folder) / "info.txt");
    p.temp.Add("release/sub/x.txt", "x");
    p.temp.Add("release/my app.exe", "x");
    const std::string published = p.temp.Add("release/publisher.pem", ReadText(p.key));
    std::vector<std::string> arguments = p.Make();
    arguments[2] = published;
    ReleaseRun run = RunKdrelease(arguments);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(
        run.err.find("kdrelease: " + published + ": the private key is in the release folder, which is published"),
        std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("kdrelease: sub: a folder; the updater installs the files of one folder only"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("my app.exe"), std::string::npos) << "the engine decodes a blank: " << run.err;
#ifndef _WIN32
    // Names the Windows file system itself never holds.
    for (const char* name : {"CON.txt", "setup.exe.uTMP", "trailing.", "APP.exe"})
        p.temp.Add(std::string("release/") + name, "x");
    std::filesystem::remove(PathOfUtf8(published));
    run = RunKdrelease(p.Make());
    for (const char* name : {"CON.txt", "setup.exe.uTMP", "trailing."})
        EXPECT_NE(run.err.find(std::string("kdrelease: ") + name + ": the engine refuses this name"), std::string::npos)
            << name << ": " << run.err;
    EXPECT_NE(run.err.find("kdrelease: app.exe: two names that differ only in case"), std::string::npos) << run.err;
#endif
    EXPECT_FALSE(Exists(p.info));

    TempFolder empty;
    run = RunKdrelease({"make", "--key", p.key, "--version", "2", "--product", "P", "--base-url", "https://e.example/",
                        Utf8OfPath(empty.Path())});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("holds no file to release"), std::string::npos) << run.err;
    run = RunKdrelease({"make", "--key", p.key, "--version", "2", "--product", "P", "--base-url", "https://e.example/",
                        empty / "missing"});
    EXPECT_EQ(run.err, "kdrelease: " + (empty / "missing") + " is not a folder\n");
    run = RunKdrelease({"keygen", p.key});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "kdrelease: " + p.key + " already exists; --force replaces it\n");
}

// The release's own update.ini replaces the installed one: every mistake
// that would strand installed copies is refused with its reason, --force
// or not, and nothing is written.
TEST(ReleaseCommands, TheReleasesUpdateIniMustKeepInstalledCopiesUpdating)
{
    Publisher p;
    const std::string next = PublicKeyIn(RunKdrelease({"keygen", p.temp / "next.pem"}).out);
    const std::string ini = p.temp / "release/update.ini";
    const auto utf16 = [](const std::string& text) {
        std::string bytes = "\xFF\xFE";
        for (const char c : text)
            bytes += std::string(1, c) + '\0';
        return bytes;
    };
    const std::vector<std::pair<std::string, std::string>> mistakes = {
        {ReleaseIni("2.0", "Keldora Demo", p.publicKey),
         "update.ini says Version=2.0, not the signed version 2.0.1: installed copies would be offered this release "
         "again at every start"},
        {ReleaseIni("2.0.1", "Keldora Demo", ""), "update.ini holds no PublicKey"},
        {ReleaseIni("2.0.1", "Keldora Demo", next),
         "update.ini's PublicKey does not list the key this release is signed with"},
        {ReleaseIni("2.0.1", "Keldora Demo", p.publicKey + " " + next + " " + next + " " + next),
         "update.ini: the publisher keys (PublicKey) list more than 3 keys"},
        {ReleaseIni("2.0.1", "Keldora Demo", p.publicKey + " bm90IGEga2V5"),
         "update.ini: the publisher key 2 of PublicKey is not the base64 of a P-256 public key"},
        {ReleaseIni("2.0.1", "Keldora Beta", p.publicKey),
         "update.ini says Product=Keldora Beta, not the signed product Keldora Demo"},
        {"[UpdateInfo]\r\nProcessName=App.exe\r\nVersion=2.0.1\r\nPublicKey=" + p.publicKey + "\r\n",
         "update.ini says Product=, not the signed product Keldora Demo"},
        {ReleaseIni("2.0.1", "Keldora Demo", p.publicKey) + "AllowUnverifiedUpdates=1\r\n",
         "update.ini holds AllowUnverifiedUpdates=1, which is for test servers only"},
        {ReleaseIni("2.0.1", "Keldora Demo", p.publicKey, "Keldora.exe"),
         "update.ini's ProcessName=Keldora.exe is no file of the release"},
        {"[Other]\r\nVersion=2.0.1\r\n", "update.ini names no ProcessName"},
    };
    for (const auto& [text, reason] : mistakes) {
        p.temp.Add("release/update.ini", text);
        for (const bool force : {false, true}) {
            const ReleaseRun run = RunKdrelease(force ? p.Make({"--force"}) : p.Make());
            EXPECT_EQ(run.code, 1) << reason;
            EXPECT_NE(run.err.find("kdrelease: " + reason), std::string::npos) << run.err;
            EXPECT_FALSE(Exists(p.info)) << reason;
        }
    }
    // All at once, one line each.
    p.temp.Add("release/update.ini", "[UpdateInfo]\r\nAllowUnverifiedUpdates=1\r\n");
    ReleaseRun run = RunKdrelease(p.Make());
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 5) << run.err;
    std::filesystem::remove(PathOfUtf8(ini));
    run = RunKdrelease(p.Make());
    EXPECT_EQ(run.err, "kdrelease: the release holds no update.ini: installed copies would keep the Version they have "
                       "and be offered this release again at every start\n");
    EXPECT_FALSE(Exists(p.info));

    // A product started by a program the copies already hold; update.ini in
    // UTF-16 as the updater may have rewritten it; key names in any case.
    p.temp.Add("release/UPDATE.INI", utf16("[updateinfo]\r\nprocessname = \"Keldora.exe\"\r\nVERSION=2.0.1\r\n"
                                           "product=keldora demo\r\npublickey=" + p.publicKey + "\r\n"));
    run = RunKdrelease(p.Make({"--installed-files", "readme.txt, Keldora.exe"}));
    EXPECT_EQ(run.code, 0) << run.err;

    // Key rotation: rotate lists the new key beside the old one, keeping
    // every other line; the release signed with the old key carries that
    // update.ini; the next release, signed with the new key, lists the new one alone.
    std::filesystem::remove(PathOfUtf8(p.temp / "release/UPDATE.INI"));
    p.temp.Add("release/update.ini", ReleaseIni("2.0.1", "Keldora Demo", p.publicKey) + "; a comment\r\n");
    run = RunKdrelease({"rotate", "--key", p.key, "--new-key", p.temp / "next.pem", p.folder});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadText(ini), "[UpdateInfo]\r\nPublicKey=" + p.publicKey + " " + next +
                                 "\r\nProcessName=App.exe\r\nVersion=2.0.1\r\nInfoURL=https://dl.example.com/rel/"
                                 "info.txt\r\nProduct=Keldora Demo\r\n; a comment\r\n");
    EXPECT_NE(run.out.find("make this release with --key " + p.key), std::string::npos) << run.out;
    const std::string rotated = ReadText(ini);
    run = RunKdrelease({"rotate", "--key", p.key, "--new-key", p.temp / "next.pem", p.folder});
    EXPECT_EQ(ReadText(ini), rotated) << "a second rotation lists nothing twice";
    const std::string third = PublicKeyIn(RunKdrelease({"keygen", p.temp / "third.pem"}).out);
    RunKdrelease({"keygen", p.temp / "fourth.pem"});
    ASSERT_EQ(RunKdrelease({"rotate", "--key", p.key, "--new-key", p.temp / "third.pem", p.folder}).code, 0);
    const std::string three = ReadText(ini);
    EXPECT_NE(three.find(p.publicKey + " " + next + " " + third + "\r\n"), std::string::npos) << three;
    run = RunKdrelease({"rotate", "--key", p.key, "--new-key", p.temp / "fourth.pem", p.folder});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("update.ini would list 4 keys, more than the 3 an installed copy reads"), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadText(ini), three) << "nothing written";
    run = RunKdrelease({"rotate", "--key", p.key, "--new-key", p.key, p.folder});
    EXPECT_NE(run.err.find("the new key is the old one"), std::string::npos) << run.err;
    p.temp.Add("release/update.ini", ReleaseIni("2.0.1", "Keldora Demo", p.publicKey + " " + next));
    run = RunKdrelease(p.Make({"--force"}));
    EXPECT_EQ(run.code, 0) << run.err;
    run = RunKdrelease({"verify", "--public-key", next + " " + p.publicKey, "--product", "Keldora Demo", p.info});
    EXPECT_EQ(run.code, 0) << run.out;
    run = RunKdrelease({"verify", "--public-key", next, "--product", "Keldora Demo", p.info});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("  signature: the signature of the information file does not verify with the publisher key"),
              std::string::npos)
        << run.out;
    p.temp.Add("release/update.ini", ReleaseIni("2.0.1", "Keldora Demo", next));
    std::vector<std::string> arguments = p.Make({"--force"});
    arguments[2] = p.temp / "next.pem";
    run = RunKdrelease(arguments);
    EXPECT_EQ(run.code, 0) << run.err;
    run = RunKdrelease({"verify", "--public-key", p.publicKey + " " + next, "--product", "Keldora Demo", p.info});
    EXPECT_EQ(run.code, 0) << run.out;

    // verify applies the same rules to a published folder: an update.ini
    // edited after make is told by its digest and by each of its mistakes.
    run = RunKdrelease({"verify", "--public-key", next, p.info, p.folder});
    EXPECT_EQ(run.code, 0) << run.out;
    p.temp.Add("release/update.ini", ReleaseIni("2.0", "Keldora Demo", next) + "AllowUnverifiedUpdates=1\r\n");
    run = RunKdrelease({"verify", "--public-key", next, p.info, p.folder});
    EXPECT_EQ(run.code, 1);
    for (const char* line : {"  folder: the SHA-256 of update.ini differs from its signed digest",
                             "  update.ini: update.ini says Version=2.0, not the signed version 2.0.1",
                             "  update.ini: update.ini holds AllowUnverifiedUpdates=1"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
}

// A file signed by this key, in any form: the rules verify applies one by one.
std::string Signed(const P256Key& key, const std::string& text)
{
    return text + SignatureLine(SignP256(key, text));
}

std::vector<std::string> Rules(const std::string& output)
{
    std::vector<std::string> rules;
    for (std::size_t at = output.find("\n  "); at != std::string::npos; at = output.find("\n  ", at + 1))
        rules.push_back(output.substr(at + 3, output.find(':', at) - at - 3));
    return rules;
}

TEST(ReleaseCommands, VerifyNamesEveryRuleAFileFails)
{
    Publisher p;
    ASSERT_EQ(RunKdrelease(p.Make({"--expires", "1"})).code, 0);
    const std::string good = ReadText(p.info);
    const P256Key key = *ReadPrivateKeyPem(ReadText(p.key)).key;
    const std::string otherKey = PublicKeyIn(RunKdrelease({"keygen", p.temp / "other.pem"}).out);
    const auto verify = [&](const std::string& text, std::vector<std::string> options,
                            std::chrono::system_clock::time_point now = FixedNow()) {
        p.temp.Add("check.txt", text);
        std::vector<std::string> arguments = {"verify", "--public-key", p.publicKey};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(p.temp / "check.txt");
        return RunKdrelease(arguments, now);
    };

    EXPECT_EQ(verify(good, {}).code, 0);
    ReleaseRun run = verify(good, {"--product", "Keldora Beta"}, FixedNow() + std::chrono::days(2));
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, (p.temp / "check.txt") +
                           ": an installed copy would refuse this release\n"
                           "  product: the information file is for the product \"Keldora Demo\", not Keldora Beta\n"
                           "  expiry: the information file expired at 2026-06-02T12:00:00Z\n");
    std::string edited = good;
    edited.replace(edited.find("2.0.1"), 5, "2.0.2");
    EXPECT_EQ(Rules(verify(edited, {}).out), std::vector<std::string>{"signature"});
    run = RunKdrelease({"verify", "--public-key", otherKey, p.info});
    EXPECT_EQ(Rules(run.out), std::vector<std::string>{"signature"});
    run = RunKdrelease({"verify", "--public-key", otherKey.substr(4), p.info});
    EXPECT_EQ(Rules(run.out), std::vector<std::string>{"publisher key"});

    const std::string bad =
        "#version=2.x\r\n#rollout=150\r\n#url=https://e.example/CON\r\n#size=12kB\r\n"
        "#url0=https://e.example/b.dll\r\n#sha256_0=zz\r\n";
    EXPECT_EQ(Rules(verify(bad, {}).out), (std::vector<std::string>{"signature line", "product", "version", "rollout",
                                                                    "digests", "file names", "sizes"}));
    EXPECT_EQ(
        Rules(verify(Signed(key, bad) + "#url3=https://e.example/late.exe\r\n", {}).out),
        (std::vector<std::string>{"signature line", "product", "version", "rollout", "digests", "file names", "sizes"}))
        << "nothing may follow the signature line";
    EXPECT_EQ(Rules(verify(Signed(key, "#version=2.0\r\n#product=P\r\n"), {}).out), std::vector<std::string>{"files"});
    run = verify(Signed(key, "#version=2.0\r\n#product=P\r\n#method=2\r\n#url=https://e.example/download\r\n"), {});
    EXPECT_EQ(run.code, 0) << "a redirect needs no digest: " << run.out;

    // Against the folder: a changed file, a missing one and one not listed.
    p.temp.Add("release/App.exe", "abd");
    std::filesystem::remove(std::filesystem::path(p.folder) / "d.txt");
    p.temp.Add("release/extra.txt", "x");
    run = RunKdrelease({"verify", "--public-key", p.publicKey, p.info, p.folder});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("\n  folder: the SHA-256 of App.exe differs from its signed digest\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\n  folder: d.txt is not in the folder\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n  folder: extra.txt is in the folder but not in the information file\n"),
              std::string::npos)
        << run.out;
    p.temp.Add("release/App.exe", "abcd");
    EXPECT_NE(RunKdrelease({"verify", "--public-key", p.publicKey, p.info, p.folder})
                  .out.find("\n  folder: App.exe has 4 bytes; the information file says 3\n"),
              std::string::npos);
}

TEST(ReleaseCommands, CommandLinesThatCannotRunExitWithTwoAndTheUsage)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"sign", "x"}, "unknown sub-command \"sign\""},
        {{"keygen"}, "keygen takes one key file"},
        {{"keygen", "--key", "k.pem", "a.pem"}, "unknown option --key for keygen"},
        {{"verify", "--public-key", "K", "--rollout", "5", "info.txt"}, "unknown option --rollout for verify"},
        {{"verify", "--public-key", "K", "--public-key=L", "info.txt"}, "--public-key is given twice"},
        {{"verify", "info.txt"}, "verify needs --public-key"},
        {{"verify", "--public-key", "K", "a", "b", "c"}, "verify takes the information file and maybe a folder"},
        {{"verify", "--public-key"}, "--public-key needs a value"},
        {{"verify", "--public-key=", "info.txt"}, "--public-key needs a value"},
        {{"make", "--force=yes", "--key", "k", "--version", "2", "--product", "P", "--base-url", "https://e/", "f"},
         "--force takes no value"},
        {{"make", "--key", "k", "--version", "2", "--product", "P", "f"}, "make needs --base-url"},
    };
    for (const auto& [arguments, reason] : cases) {
        const ReleaseRun run = RunKdrelease(arguments);
        EXPECT_EQ(run.code, 2) << reason;
        EXPECT_EQ(run.err.rfind("kdrelease: " + reason, 0), 0u) << run.err;
        EXPECT_NE(run.err.find("kdrelease make --key publisher.pem"), std::string::npos) << "the usage follows";
    }
    EXPECT_EQ(RunKdrelease({}).code, 2);
    const ReleaseRun help = RunKdrelease({"help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("kdrelease verify --public-key KEY"), std::string::npos);
}

}  // namespace
