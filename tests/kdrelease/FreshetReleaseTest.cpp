// A release published with kdrelease.exe, run under Wine as a publisher on
// Windows would run it, installs through the real freshet.exe: the key it
// made, the information file it signed, the updater's question answered Yes
// by kdAnswer.exe as a person would, the stub replacing the files.
#include "HttpTestServer.h"
#include "NginxServer.h"
#include "common/ScratchFolder.h"
#include "common/AppPaths.h"
#include "common/WineSupport.h"
#include "winutil/ProfileFile.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string PublicKeyIn(const std::string& output)
{
    const std::size_t at = output.find("PublicKey=");
    return at == std::string::npos ? std::string() : output.substr(at + 10, output.find_first_of("\r\n", at) - at - 10);
}

void WriteSettings(const std::string& path, const std::string& version, const std::string& infoURL,
                   const std::string& publicKey)
{
    ProfileFile settings(path);
    settings.WriteString("UpdateInfo", "ProcessName", "app.exe");
    settings.WriteString("UpdateInfo", "Version", version);
    settings.WriteString("UpdateInfo", "InfoURL", infoURL);
    settings.WriteString("UpdateInfo", "PublicKey", publicKey);
    settings.WriteString("UpdateInfo", "Product", "Keldora Test");
}

// The test server, a scratch folder, and where the stand-in product, the
// message boxes and the updater write what they did.
class KdReleaseFreshet : public ::testing::Test {
protected:
    HttpTestServer server;
    ScratchFolder folder{"kdrelease freshet"};
    const std::string record = folder.PathOf("record.txt");
    const EnvVarScope recordTo{"KD_STUB_RECORD", record};
    const std::string messages = folder.PathOf("messages.txt");
    const EnvVarScope messageLog{"KDAGENT_MESSAGE_LOG", messages};
    const EnvVarScope updaterLog{"KDUPDATER_LOG", folder.PathOf("freshet.log")};
    const std::string product = ReadWholeFile(GetAppFolder() + "stubproduct.exe");

    // The installed updater and the person who answers its question Yes.
    struct Run {
        UniqueKernelHandle updater;
        UniqueKernelHandle answer;
    };
    Run StartUpdater() const
    {
        return {StartProcess(Quoted(folder.PathOf("app\\freshet.exe")) + " /silent 0"),
                StartProcess(Quoted(GetAppFolder() + "kdAnswer.exe") + " click freshet.exe #32770 - Yes 60")};
    }
    void RunUpdater() const
    {
        const Run run = StartUpdater();
        EXPECT_EQ(WaitForExit(run.answer.get(), 70000), 0u) << "the question was asked and answered";
        EXPECT_EQ(WaitForExit(run.updater.get(), 60000), 0u);
    }
    // The stub restarted the updater, which started the release's product,
    // and the release's update.ini is installed.
    void ExpectInstalled(const std::string& release, const std::string& published) const
    {
        std::string starts;
        EXPECT_TRUE(PumpUntil([&] { return !(starts = ReadWholeFile(record)).empty(); }, 60000));
        EXPECT_EQ(starts.rfind(folder.PathOf("app\\app.exe") + "|" + std::to_string(release.size()) + "|", 0), 0u)
            << starts;
        EXPECT_EQ(ReadWholeFile(folder.PathOf("app\\app.exe")), release);
        EXPECT_EQ(ReadWholeFile(folder.PathOf("app\\update.ini")), ReadWholeFile(published + "\\update.ini"));
    }
};

TEST_F(KdReleaseFreshet, AReleaseMadeByKdreleaseInstallsThroughFreshet)
{
    const std::string release = product + "-new release-";

    // The publisher's side: a key, the release in the folder the server
    // serves, the signed information file written into it.
    DWORD code = 1;
    const std::string key = folder.PathOf("publisher.pem");
    const std::string keygen = RunAndCapture("kdrelease.exe keygen " + Quoted(key), &code);
    ASSERT_EQ(code, 0u) << keygen;
    const std::string publicKey = PublicKeyIn(keygen);
    ASSERT_EQ(publicKey.size(), 124u) << keygen;
    // The server's own files stay out of the release folder.
    const std::string published = server.Root() + "rel";
    CreateDirectoryW(WideFromUtf8(published).c_str(), nullptr);
    server.PutFile("rel\\app.exe", release);
    WriteSettings(published + "\\update.ini", "2.0", server.Url("/rel/info.txt"), publicKey);
    const std::string message =
        folder.AddFile("notes.html", "Schneller <b>und</b> sicherer \xE2\x80\x93 f\xC3\xBCr alle");
    const std::string made =
        RunAndCapture("kdrelease.exe make --key " + Quoted(key) + " --version 2.0 --product \"Keldora Test\"" +
                          " --base-url " + server.Url("/rel/") + " --allow-http --expires 1 --message " + Quoted(message) +
                          " " + Quoted(published),
                      &code);
    ASSERT_EQ(code, 0u) << made;
    const std::string info = ReadWholeFile(published + "\\info.txt");
    EXPECT_NE(info.find("#url=" + server.Url("/rel/app.exe") + "\r\n"), std::string::npos) << info;
    EXPECT_NE(info.find("#url0=" + server.Url("/rel/update.ini") + "\r\n"), std::string::npos) << info;

    // The installed 1.0 beside the updater.
    folder.CopyIn(GetAppFolder() + "freshet.exe", "app\\freshet.exe");
    folder.AddFile("app\\app.exe", product);
    WriteSettings(folder.PathOf("app\\update.ini"), "1.0", server.Url("/rel/info.txt"), publicKey);

    RunUpdater();

    // The stub restarts the updater, which starts the product: now 2.0.
    ExpectInstalled(release, published);
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(folder.PathOf("app\\app.exe.uTMP")).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadWholeFile(messages), "") << "no box: nothing refused, nothing failed";
}

// Bytes no compressor shrinks: the high bytes of a fixed generator.
std::string ScatteredBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 7;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// The fields of a line of nginx's request log.
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
        fields.push_back(line.substr(at, tab - at));
    fields.push_back(line.substr(at));
    return fields;
}

// The same release served by nginx, whose validators and ranges are the
// real thing, with the roads kdrelease makes from the release before: the
// unchanged file is kept and never asked for, the changed notes come as their
// patch, the program (whose earlier self the publisher did not keep) as its
// compressed form, and a download no road shrinks, cut off by killing the
// updater midway, is resumed by the next run with a range under nginx's own
// ETag, answered 206 with only the rest.
TEST_F(KdReleaseFreshet, ARealServerServesTheWholeUpdateTheKeptFileAndTheResumedDownload)
{
    // big.dat comes slowly enough to be cut off after its first checkpoint.
    const NginxServer nginx("        location = /rel/big.dat { limit_rate 1m; }");
    const std::string release = product + "-nginx release-";
    const std::string big = ScatteredBytes(4000000);
    const std::string same = "data no release changes";
    std::string oldNotes;
    for (int line = 0; oldNotes.size() < 100000; ++line)
        oldNotes += "note " + std::to_string(line) + " of the release\r\n";
    const std::string notes = oldNotes.substr(0, 50000) + "a note new in 2.0\r\n" + oldNotes.substr(50000);

    DWORD code = 1;
    const std::string key = folder.PathOf("publisher.pem");
    const std::string publicKey = PublicKeyIn(RunAndCapture("kdrelease.exe keygen " + Quoted(key), &code));
    ASSERT_EQ(publicKey.size(), 124u);
    const std::string published = nginx.Root() + "rel";
    CreateDirectoryW(WideFromUtf8(published).c_str(), nullptr);
    nginx.PutFile("rel\\app.exe", release);
    nginx.PutFile("rel\\same.dat", same);
    nginx.PutFile("rel\\big.dat", big);
    nginx.PutFile("rel\\notes.txt", notes);
    const std::string infoURL = nginx.Url("/rel/info.txt");
    WriteSettings(published + "\\update.ini", "2.0", infoURL, publicKey);
    // The release installed now, as its publisher kept it (a patch of the
    // program would make kdrelease take most of a minute under Wine).
    folder.AddFile("previous\\notes.txt", oldNotes);
    folder.AddFile("previous\\same.dat", same);
    const std::string made = RunAndCapture("kdrelease.exe make --key " + Quoted(key) +
                                               " --version 2.0 --product \"Keldora Test\" --base-url " +
                                               nginx.Url("/rel/") + " --allow-http --expires 1 --previous " +
                                               Quoted(folder.PathOf("previous")) + " " + Quoted(published),
                                           &code);
    ASSERT_EQ(code, 0u) << made;
    const std::string info = ReadWholeFile(published + "\\info.txt");
    EXPECT_NE(info.find("#patch_"), std::string::npos) << info;
    EXPECT_EQ(info.find("/rel/roads/big.dat"), std::string::npos) << "no road is smaller than big.dat: " << info;

    folder.CopyIn(GetAppFolder() + "freshet.exe", "app\\freshet.exe");
    folder.AddFile("app\\app.exe", product);
    folder.AddFile("app\\same.dat", same);
    folder.AddFile("app\\notes.txt", oldNotes);
    WriteSettings(folder.PathOf("app\\update.ini"), "1.0", infoURL, publicKey);
    const std::string pending = folder.PathOf("app\\big.dat.uTMP");

    // The first run is killed once a MiB of big.dat is on the disk, recorded.
    {
        const Run run = StartUpdater();
        EXPECT_EQ(WaitForExit(run.answer.get(), 70000), 0u) << "the question was asked and answered";
        ASSERT_TRUE(PumpUntil([&] { return ReadWholeFile(pending + ".resume").find("\nlength\t") != std::string::npos; },
                              60000))
            << nginx.RequestLog();
        TerminateProcess(run.updater.get(), 9);
        WaitForExit(run.updater.get(), 10000);
    }
    const std::string resume = ReadWholeFile(pending + ".resume");
    const std::size_t at = resume.find("\nlength\t") + 8;
    const std::size_t kept = std::stoul(resume.substr(at, resume.find('\n', at) - at));
    EXPECT_GE(kept, 1u << 20) << resume;
    EXPECT_LT(kept, big.size()) << resume;
    EXPECT_TRUE(ReadWholeFile(pending).substr(0, kept) == big.substr(0, kept));
    EXPECT_EQ(ReadWholeFile(folder.PathOf("app\\app.exe")), product) << "nothing installed by the run cut off";

    RunUpdater();
    ExpectInstalled(release, published);
    EXPECT_TRUE(ReadWholeFile(folder.PathOf("app\\big.dat")) == big);
    EXPECT_EQ(ReadWholeFile(folder.PathOf("app\\same.dat")), same);
    EXPECT_EQ(ReadWholeFile(folder.PathOf("app\\notes.txt")), notes);
    for (const char* left : {"app\\app.exe.uTMP", "app\\big.dat.uTMP", "app\\big.dat.uTMP.resume",
                             "app\\app.exe.uTMP.road", "app\\notes.txt.uTMP.road"})
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(folder.PathOf(left)).c_str()), INVALID_FILE_ATTRIBUTES) << left;
    EXPECT_EQ(ReadWholeFile(messages), "") << "no box: nothing refused, nothing failed";

    // What nginx was asked: same.dat never; big.dat whole, then its rest only.
    EXPECT_EQ(nginx.RequestsFor("/rel/same.dat").size(), 0u) << nginx.RequestLog();
    const std::vector<std::string> asked = nginx.RequestsFor("/rel/big.dat");
    ASSERT_EQ(asked.size(), 2u) << nginx.RequestLog();
    const std::vector<std::string> first = Fields(asked[0]), second = Fields(asked[1]);
    ASSERT_EQ(first.size(), 6u) << asked[0];
    ASSERT_EQ(second.size(), 6u) << asked[1];
    EXPECT_EQ(first[1], "200") << asked[0];
    EXPECT_EQ(first[2], "") << "no range the first time";
    EXPECT_EQ(second[1], "206") << asked[1];
    EXPECT_EQ(second[2], "bytes=" + std::to_string(kept) + "-");
    EXPECT_EQ(second[3], first[5]) << "If-Range names the ETag nginx sent";
    EXPECT_EQ(second[4], std::to_string(big.size() - kept)) << "only the rest crossed the network";

    // The notes as their patch, the program as its compressed form: never whole.
    EXPECT_EQ(nginx.RequestsFor("/rel/app.exe").size(), 0u) << nginx.RequestLog();
    EXPECT_EQ(nginx.RequestsFor("/rel/notes.txt").size(), 0u) << nginx.RequestLog();
    EXPECT_EQ(nginx.RequestsFor("/rel/roads/notes.txt.zst").size(), 0u) << "the patch is cheaper";
    EXPECT_FALSE(nginx.RequestsFor("/rel/roads/app.exe.zst").empty()) << nginx.RequestLog();
    const std::string log = ReadWholeFile(folder.PathOf("freshet.log"));
    EXPECT_NE(log.find("fetched " + nginx.Url("/rel/notes.txt") + " as the patch of "), std::string::npos) << log;
    EXPECT_NE(log.find("fetched " + nginx.Url("/rel/app.exe") + " as the compressed form of "), std::string::npos)
        << log;
    EXPECT_EQ(log.find("is not taken"), std::string::npos) << log;
}

// A publisher moves to a new key without a flag day: the release made
// after rotate (signed with the old key) installs on copies that know only
// the old key and brings them the new one; the next release, signed with the
// new key alone, installs on them.
TEST_F(KdReleaseFreshet, ARotationReleaseMovesInstalledCopiesToTheNewKey)
{
    DWORD code = 1;
    const std::string oldKey = folder.PathOf("old.pem");
    const std::string newKey = folder.PathOf("new.pem");
    const std::string oldPublic = PublicKeyIn(RunAndCapture("kdrelease.exe keygen " + Quoted(oldKey), &code));
    const std::string newPublic = PublicKeyIn(RunAndCapture("kdrelease.exe keygen " + Quoted(newKey), &code));
    ASSERT_EQ(newPublic.size(), 124u);
    const std::string published = server.Root() + "cur";
    CreateDirectoryW(WideFromUtf8(published).c_str(), nullptr);
    const std::string infoURL = server.Url("/cur/info.txt");
    const auto make = [&](const std::string& version, const std::string& key) {
        const std::string made = RunAndCapture("kdrelease.exe make --key " + Quoted(key) + " --version " + version +
                                                   " --product \"Keldora Test\" --base-url " + server.Url("/cur/") +
                                                   " --allow-http --force " + Quoted(published),
                                               &code);
        EXPECT_EQ(code, 0u) << made;
    };
    std::size_t installs = 0;
    const auto update = [&](const std::string& release) {
        RunUpdater();
        ++installs;
        // One line per start of the product; the releases differ in size.
        std::string starts;
        const auto count = [&] { return static_cast<std::size_t>(std::count(starts.begin(), starts.end(), '\n')); };
        EXPECT_TRUE(PumpUntil([&] {
            starts = ReadWholeFile(record);
            return count() >= installs;
        }, 60000));
        EXPECT_EQ(count(), installs) << starts;
        EXPECT_NE(starts.find(folder.PathOf("app\\app.exe") + "|" + std::to_string(release.size()) + "|"),
                  std::string::npos)
            << starts;
        EXPECT_EQ(ReadWholeFile(folder.PathOf("app\\app.exe")), release);
        EXPECT_EQ(ReadWholeFile(folder.PathOf("app\\update.ini")), ReadWholeFile(published + "\\update.ini"));
    };

    // The installed 1.0 knows the old key only.
    folder.CopyIn(GetAppFolder() + "freshet.exe", "app\\freshet.exe");
    folder.AddFile("app\\app.exe", product);
    WriteSettings(folder.PathOf("app\\update.ini"), "1.0", infoURL, oldPublic);

    // 2.0: update.ini lists both keys (rotate), signed with the old one.
    const std::string second = product + "-second release-";
    server.PutFile("cur\\app.exe", second);
    WriteSettings(published + "\\update.ini", "2.0", infoURL, oldPublic);
    const std::string rotated = RunAndCapture("kdrelease.exe rotate --key " + Quoted(oldKey) + " --new-key " +
                                                  Quoted(newKey) + " " + Quoted(published),
                                              &code);
    ASSERT_EQ(code, 0u) << rotated;
    EXPECT_EQ(ProfileFile(published + "\\update.ini").ReadString("UpdateInfo", "PublicKey"), oldPublic + " " + newPublic);
    make("2.0", oldKey);
    update(second);

    // 3.0, signed with the new key alone, which its update.ini now lists alone.
    const std::string third = product + "-third release-";
    server.PutFile("cur\\app.exe", third);
    DeleteFileW(WideFromUtf8(published + "\\update.ini").c_str());
    WriteSettings(published + "\\update.ini", "3.0", infoURL, newPublic);
    make("3.0", newKey);
    update(third);
    EXPECT_EQ(ProfileFile(folder.PathOf("app\\update.ini")).ReadString("UpdateInfo", "PublicKey"), newPublic);
    EXPECT_EQ(ReadWholeFile(messages), "") << "nothing refused, nothing failed";
}

}  // namespace
