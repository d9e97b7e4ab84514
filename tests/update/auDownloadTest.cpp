// The engine's download step in this process: the program's folder is the
// test program's own, so every upgrade here ends by aborting at OnEndUpgrade
// (which removes the downloads) instead of handing this program to the stub.
#include "update/auAutoUpgrader.h"
#include "update/auUpgraderTexts.h"

#include "HttpTestServer.h"
#include "common/HostCommand.h"
#include "common/AppPaths.h"
#include "core/StrCon.h"
#include "http/HttpProgress.h"
#include "http/FileSha256.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

struct ProgressSeen {
    std::string url;
    std::int64_t fileSize = 0;
    std::int64_t bytesRead = 0;
    int timeLeft = 0;
    int percents = 0;
    int total = 0;
};

// An engine that downloads the listed files of a server, writing down its
// events; it stops at OnEndUpgrade unless a test says otherwise.
struct Download {
    HttpTestServer server;
    std::unique_ptr<TauAutoUpgrader> engine = std::make_unique<TauAutoUpgrader>();
    Events events;
    std::vector<ProgressSeen> progress;
    std::vector<std::wstring> errors;
    std::vector<std::string> pendingAtEnd;
    bool continueAfterLostFile = false;

    Download()
    {
        TauAutoUpgrader& e = *engine;
        e.Wizard.SetLanguage(wlEnglish);
        // The wizard's own tests answer it; here it would wait for a person.
        e.Wizard.Enabled = false;
        e.VersionControl = byNumber;
        e.VersionNumber = "1.0";
        e.ShowMessages = {mLostFile, mConnLost};
        e.InfoFileURL = server.Url("/info.txt");
        // The test server speaks plain http and nothing here is signed.
        e.AllowUnverifiedUpdates = true;
        e.OnConfirmUpgrade = [this](TauAutoUpgrader&) { events.push_back("ConfirmUpgrade"); };
        e.OnFileStart = [this](TauAutoUpgrader& s, const std::string& url, std::int64_t size, OleDate, bool&) {
            events.push_back("FileStart " + FileOf(url) + " " + std::to_string(size) + " #" +
                             std::to_string(s.CurrentFileIndex()));
        };
        e.OnProgress = [this](TauAutoUpgrader&, const std::string& url, std::int64_t size, std::int64_t read, int,
                              int left, std::uint8_t percents, std::uint8_t total, float) {
            if (events.back() != "Progress " + FileOf(url))
                events.push_back("Progress " + FileOf(url));
            progress.push_back({url, size, read, left, percents, total});
        };
        e.OnFileDone = [this](TauAutoUpgrader&, const std::string& name) {
            events.push_back("FileDone " + name.substr(GetAppFolder().size()));
        };
        e.OnEndUpgrade = [this](TauAutoUpgrader& s) {
            events.push_back("EndUpgrade");
            pendingAtEnd = PendingFiles();
            s.AbortUpgrade();
        };
        e.OnAborted = [this](TauAutoUpgrader&) { events.push_back("Aborted"); };
        e.OnConnLost = [this](TauAutoUpgrader&) { events.push_back("ConnLost"); };
        e.OnLostFile = [this](TauAutoUpgrader&, const std::string& url, int code, bool& continueUpgrade) {
            events.push_back("LostFile " + url + " " + std::to_string(code));
            continueUpgrade = continueAfterLostFile;
        };
        e.Prompts.ShowError = [this](const std::wstring& text) { errors.push_back(text); };
        e.AskSkipFile = [this](const std::wstring& text, const std::wstring& caption) {
            errors.push_back(caption + L": " + text);
            return continueAfterLostFile;
        };
        e.OnDoOwnCloseAppMethod = [this](TauAutoUpgrader&) { events.push_back("never: handed over"); };
    }

    ~Download() { RemovePending(); }

    static std::string FileOf(const std::string& url) { return url.substr(url.find_last_of('/') + 1); }

    static std::vector<std::string> PendingFiles()
    {
        std::vector<std::string> names;
        for (const FoundFile& found : FindFiles(GetAppFolder() + "*.uTMP"))
            names.push_back(found.name);
        return names;
    }

    static void RemovePending()
    {
        for (const std::string& name : PendingFiles()) {
            const std::string path = GetAppFolder() + name;
            SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(WideFromUtf8(path).c_str());
        }
    }

    void Release(const std::vector<std::string>& urls)
    {
        const char* keys[] = {"url", "url0", "url3", "url4", "url5", "url6", "url7", "url8", "url9"};
        std::string text = "#version=2.0\r\n";
        for (size_t i = 0; i < urls.size(); ++i)
            text += std::string("#") + keys[i] + "=" + urls[i] + "\r\n";
        server.PutFile("info.txt", text);
    }

    void Run()
    {
        engine->CheckUpdate();
        ASSERT_TRUE(PumpUntil([&] {
            return !events.empty() && (events.back() == "Aborted" || events.back() == "ConnLost");
        }, 60000)) << ::testing::PrintToString(events);
        PumpMessagesFor(50);
    }
};

TEST(Download, EventOrderProgressAndTotalsAcrossFilesThenCleanUp)
{
    Download d;
    const std::string first = PatternBytes(3 * 1024 * 1024);
    const std::string second = PatternBytes(2 * 1024 * 1024 + 5);
    d.server.PutFile("first.bin", first);
    d.server.PutFile("second.bin", second);
    d.Release({d.server.Url("/first.bin"), d.server.Url("/second.bin")});
    // The property allows 2 GiB; the transfer must neither throw nor fail.
    d.engine->TransferBufferSize = INT_MAX;
    std::string firstDone;
    d.engine->OnFileDone = [&](TauAutoUpgrader& s, const std::string& name) {
        d.events.push_back("FileDone " + name.substr(GetAppFolder().size()));
        EXPECT_EQ(name, s.TempFileName());
        if (firstDone.empty())
            firstDone = ReadWholeFile(name);
        else
            EXPECT_EQ(ReadWholeFile(name), second);
        EXPECT_NE(GetFileAttributesW(WideFromUtf8(name).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    };
    d.Run();
    EXPECT_EQ(firstDone, first);
    EXPECT_EQ(d.events, (Events{"ConfirmUpgrade", "FileStart first.bin 3145728 #0", "Progress first.bin",
                                "FileDone first.bin.uTMP", "FileStart second.bin 2097157 #1", "Progress second.bin",
                                "FileDone second.bin.uTMP", "EndUpgrade", "Aborted"}));
    EXPECT_EQ(d.pendingAtEnd, (std::vector<std::string>{"first.bin.uTMP", "second.bin.uTMP"}));
    EXPECT_TRUE(Download::PendingFiles().empty()) << "an upgrade that did not hand over leaves no pending file";

    ASSERT_FALSE(d.progress.empty());
    int lastTotal = 0;
    for (const ProgressSeen& p : d.progress) {
        EXPECT_LE(p.percents, 100);
        EXPECT_LE(p.total, 100);
        EXPECT_GE(p.total, lastTotal) << "the total never goes back";
        EXPECT_GE(p.timeLeft, 0);
        const bool isFirst = Download::FileOf(p.url) == "first.bin";
        EXPECT_EQ(p.fileSize, isFirst ? 3145728 : 2097157);
        EXPECT_EQ(p.total, isFirst ? p.percents / 2 : 50 + p.percents / 2);
        lastTotal = p.total;
    }
    EXPECT_EQ(d.progress.back().percents, 100);
    EXPECT_EQ(d.progress.back().total, 100);

    const std::string log = d.server.RequestLog();
    for (const char* file : {"/first.bin", "/second.bin"}) {
        const size_t at = log.find(file);
        ASSERT_NE(at, std::string::npos);
        const size_t lineEnd = log.find('\n', at);
        EXPECT_NE(log.substr(at, lineEnd - at).find("no-cache"), std::string::npos)
            << "release files never come from the cache: " << log;
    }
}

// A compressed form is what crosses the network: the file events name the
// release file and count the form's bytes. A road that is not served raises
// no file event; the whole file follows in the same run.
TEST(Download, ACompressedFormIsCountedByItsOwnBytesAndAMissingOneFallsBackToTheWholeFile)
{
    Download d;
    const std::string first = PatternBytes(3 * 1024 * 1024);
    const std::string second = PatternBytes(100000);
    d.server.PutFile("first.bin", first);
    d.server.PutFile("second.bin", second);
    HostOutput(d.server.Root(), "cd '" + HostPath(d.server.Root()) + "' && zstd -q -f first.bin -o first.zst");
    const std::string frame = ReadWholeFile(d.server.Root() + "first.zst");
    const auto keys = [&](const std::string& number, const std::string& body,
                          const std::string& zname, const std::string& zbody) {
        return "#sha256" + number + "=" + HexOfBytes(Sha256Of(body)) + "\r\n#size" + number + "=" +
               std::to_string(body.size()) + "\r\n#zurl" + number + "=" + d.server.Url("/" + zname) +
               "\r\n#zsha256" + number + "=" + HexOfBytes(Sha256Of(zbody)) + "\r\n#zsize" + number + "=" +
               std::to_string(zbody.size()) + "\r\n";
    };
    d.server.PutFile("info.txt", "#version=2.0\r\n#url=" + d.server.Url("/first.bin") + "\r\n" +
                                     keys("", first, "first.zst", frame) + "#url0=" +
                                     d.server.Url("/second.bin") + "\r\n" +
                                     keys("_0", second, "missing.zst", "not served"));
    std::vector<std::string> done;
    d.engine->OnFileDone = [&](TauAutoUpgrader&, const std::string& name) { done.push_back(ReadWholeFile(name)); };
    std::vector<std::string> log;
    d.engine->OnLog = [&](TauAutoUpgrader&, const std::string& text) { log.push_back(text); };
    d.Run();

    EXPECT_EQ(d.events, (Events{"ConfirmUpgrade", "FileStart first.bin " + std::to_string(frame.size()) + " #0",
                                "Progress first.bin", "FileStart second.bin 100000 #1", "Progress second.bin",
                                "EndUpgrade", "Aborted"}));
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[0] == first) << "inflated into the download";
    EXPECT_TRUE(done[1] == second);
    ASSERT_FALSE(d.progress.empty());
    for (const ProgressSeen& p : d.progress)
        EXPECT_EQ(p.fileSize, Download::FileOf(p.url) == "first.bin" ? static_cast<std::int64_t>(frame.size()) : 100000);
    const auto firstLast = std::find_if(d.progress.rbegin(), d.progress.rend(),
                                        [](const ProgressSeen& p) { return Download::FileOf(p.url) == "first.bin"; });
    ASSERT_NE(firstLast, d.progress.rend());
    EXPECT_EQ(firstLast->bytesRead, static_cast<std::int64_t>(frame.size())) << "the bytes fetched, not the file's";
    EXPECT_EQ(d.server.RequestsFor("/first.bin").size(), 0u) << d.server.RequestLog();
    EXPECT_EQ(d.server.RequestsFor("/missing.zst").size(), 1u);
    EXPECT_EQ(d.server.RequestsFor("/second.bin").size(), 1u);
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "the compressed form of " + d.server.Url("/second.bin") + " (" + d.server.Url("/missing.zst") +
                            ") is not taken: the server answered HTTP 404; fetching the whole file instead"),
              log.end())
        << ::testing::PrintToString(log);
    EXPECT_TRUE(d.errors.empty()) << "nothing is shown";
    EXPECT_TRUE(FindFiles(GetAppFolder() + "*.road").empty());
}

// Text of 16 letters drawn by a fixed generator: it compresses to about half.
std::string NoisyText(std::size_t size, std::uint32_t seed)
{
    std::string text(size, 'a');
    for (char& c : text) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>('a' + (seed >> 28));
    }
    return text;
}

// Installed copies in the program's folder, gone with the test.
struct InstalledCopies {
    std::vector<std::string> paths;
    void Put(const std::string& name, const std::string& bytes)
    {
        paths.push_back(GetAppFolder() + name);
        WriteWholeFile(paths.back(), bytes);
    }
    ~InstalledCopies()
    {
        for (const std::string& path : paths)
            DeleteFileW(WideFromUtf8(path).c_str());
    }
};

// The whole list's progress counts the bytes fetched against a total known
// before the first byte: a file kept costs none, a patch its own bytes; a
// road that fails keeps the bytes it fetched and adds the whole file to the
// total, and the percentage shown then holds rather than going back.
TEST(Download, TheTotalCountsTheBytesOfTheRoadsTakenAndNeverGoesBackOnAFallback)
{
    Download d;
    InstalledCopies installed;
    const std::string whole = NoisyText(1500000, 1);
    const std::string oldPatched = NoisyText(1000000, 2);
    const std::string patched = oldPatched.substr(0, 400000) + NoisyText(600000, 3) + oldPatched.substr(400000);
    const std::string kept = NoisyText(200000, 4);
    installed.Put("progress-patched.bin", oldPatched);
    installed.Put("progress-kept.bin", kept);
    d.server.PutFile("progress-whole.bin", whole);
    d.server.PutFile("progress-patched.bin", patched);
    d.server.PutFile("old-patched.bin", oldPatched);
    d.server.PutFile("progress-kept.bin", kept);
    HostOutput(d.server.Root(), "cd '" + HostPath(d.server.Root()) +
                                    "' && zstd -q -f progress-whole.bin -o whole.zst && zstd -q -f "
                                    "--patch-from=old-patched.bin progress-patched.bin -o patched.patch");
    const std::string frame = ReadWholeFile(d.server.Root() + "whole.zst");
    const std::string patch = ReadWholeFile(d.server.Root() + "patched.patch");
    // The frame served is not the one whose digest the file gives. The patch
    // is large enough that the fallback's share shows as the total held.
    std::string garbled = frame;
    garbled[garbled.size() / 2] ^= 1;
    d.server.PutFile("whole.zst", garbled);
    const auto checks = [](const std::string& number, const std::string& body) {
        return "#sha256" + number + "=" + HexOfBytes(Sha256Of(body)) + "\r\n#size" + number + "=" +
               std::to_string(body.size()) + "\r\n";
    };
    d.server.PutFile(
        "info.txt",
        "#version=2.0\r\n#url=" + d.server.Url("/progress-whole.bin") + "\r\n" + checks("", whole) +
            "#zurl=" + d.server.Url("/whole.zst") + "\r\n#zsha256=" + HexOfBytes(Sha256Of(frame)) + "\r\n#zsize=" +
            std::to_string(frame.size()) + "\r\n#url0=" + d.server.Url("/progress-patched.bin") + "\r\n" +
            checks("_0", patched) + "#patch_0_1=" + HexOfBytes(Sha256Of(oldPatched)) + " " +
            HexOfBytes(Sha256Of(patch)) + " " + std::to_string(patch.size()) + " " + d.server.Url("/patched.patch") +
            "\r\n#url3=" + d.server.Url("/progress-kept.bin") + "\r\n" + checks("_3", kept));
    std::vector<std::string> done;
    d.engine->OnFileDone = [&](TauAutoUpgrader&, const std::string& name) { done.push_back(ReadWholeFile(name)); };
    std::vector<std::string> log;
    d.engine->OnLog = [&](TauAutoUpgrader&, const std::string& text) { log.push_back(text); };
    d.Run();

    ASSERT_EQ(done.size(), 2u) << ::testing::PrintToString(log);
    EXPECT_TRUE(done[0] == whole);
    EXPECT_TRUE(done[1] == patched) << "the patch applied to the installed copy";
    EXPECT_EQ(d.server.RequestsFor("/whole.zst").size(), 1u) << d.server.RequestLog();
    EXPECT_EQ(d.server.RequestsFor("/progress-whole.bin").size(), 1u);
    EXPECT_EQ(d.server.RequestsFor("/patched.patch").size(), 1u);
    EXPECT_EQ(d.server.RequestsFor("/progress-patched.bin").size(), 0u);
    EXPECT_EQ(d.server.RequestsFor("/progress-kept.bin").size(), 0u);
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "kept progress-kept.bin: the installed file already is the release's (" +
                            d.server.Url("/progress-kept.bin") + " not downloaded)"),
              log.end())
        << ::testing::PrintToString(log);

    // The transfers in order, each told by its own size: the frame (planned),
    // the whole file after it (not planned), the patch (planned).
    const double z = static_cast<double>(frame.size());
    const double w = static_cast<double>(whole.size());
    const double p = static_cast<double>(patch.size());
    ASSERT_FALSE(d.progress.empty());
    int expected = 0;
    int transfer = 0;
    std::int64_t lastSize = d.progress.front().fileSize;
    for (const ProgressSeen& seen : d.progress) {
        if (seen.fileSize != lastSize)
            ++transfer;
        lastSize = seen.fileSize;
        const double sizes[] = {z, w, p};
        ASSERT_LT(transfer, 3) << ::testing::PrintToString(d.events);
        EXPECT_EQ(seen.fileSize, static_cast<std::int64_t>(sizes[transfer])) << transfer;
        const double read = static_cast<double>(seen.bytesRead);
        const double fetched = transfer == 0 ? read : transfer == 1 ? z + read : z + w + read;
        const double total = transfer == 0 ? z + p : z + w + p;
        expected = std::max(expected, static_cast<int>(RoundHalfEven(fetched * 100.0 / total)));
        EXPECT_EQ(seen.total, expected) << "transfer " << transfer << " at " << seen.bytesRead << " bytes";
    }
    EXPECT_EQ(transfer, 2);
    EXPECT_EQ(d.progress.back().bytesRead, static_cast<std::int64_t>(patch.size()));
    EXPECT_EQ(d.progress.back().total, 100);
    const auto wholeStart = std::find_if(d.progress.begin(), d.progress.end(), [&](const ProgressSeen& seen) {
        return seen.fileSize == static_cast<std::int64_t>(whole.size());
    });
    ASSERT_NE(wholeStart, d.progress.end());
    EXPECT_EQ(wholeStart->total, (wholeStart - 1)->total) << "held, not gone back, when the fallback adds its bytes";
    EXPECT_EQ((wholeStart - 1)->total, static_cast<int>(RoundHalfEven(z * 100.0 / (z + p))));
}

SYSTEMTIME LastWriteOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data);
    SYSTEMTIME time{};
    FileTimeToSystemTime(&data.ftLastWriteTime, &time);
    return time;
}

void SetServedTime(const std::string& path, WORD year)
{
    SYSTEMTIME time{year, 11, 0, 6, 8, 49, 37, 0};
    FILETIME fileTime{};
    SystemTimeToFileTime(&time, &fileTime);
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &fileTime);
    CloseHandle(file);
}

TEST(Download, FileTimesFromTheServerAndSkippedFilesDeleteTheirOldDownload)
{
    Download d;
    d.server.PutFile("old.txt", "old time");
    d.server.PutFile("future.txt", "far future");
    d.server.PutFile("skip.bin", "declined");
    SetServedTime(d.server.Root() + "old.txt", 1994);
    SetServedTime(d.server.Root() + "future.txt", 2200);
    // A download of an earlier run that never finished.
    const std::string stale = GetAppFolder() + "skip.bin.uTMP";
    {
        HANDLE file = CreateFileW(WideFromUtf8(stale).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN, nullptr);
        CloseHandle(file);
    }
    d.Release({d.server.Url("/old.txt"), d.server.Url("/skip.bin"), d.server.Url("/future.txt")});
    d.engine->OnFileStart = [&](TauAutoUpgrader& s, const std::string& url, std::int64_t, OleDate, bool& can) {
        d.events.push_back("FileStart " + Download::FileOf(url));
        EXPECT_NE(s.FileTime(), 0.0);
        can = Download::FileOf(url) != "skip.bin";
    };
    std::vector<SYSTEMTIME> times;
    d.engine->OnFileDone = [&](TauAutoUpgrader&, const std::string& name) {
        d.events.push_back("FileDone " + name.substr(GetAppFolder().size()));
        times.push_back(LastWriteOf(name));
    };
    d.Run();
    EXPECT_EQ(d.events, (Events{"ConfirmUpgrade", "FileStart old.txt", "Progress old.txt", "FileDone old.txt.uTMP",
                                "FileStart skip.bin", "FileStart future.txt", "Progress future.txt",
                                "FileDone future.txt.uTMP", "EndUpgrade", "Aborted"}));
    EXPECT_EQ(d.pendingAtEnd, (std::vector<std::string>{"future.txt.uTMP", "old.txt.uTMP"}))
        << "the old download of the skipped file is gone";
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times[0].wYear, 1994);
    EXPECT_EQ(times[0].wSecond, 36) << "two-second steps";
    EXPECT_GE(times[1].wYear, 2020) << "a time the file system cannot hold is skipped, not wrapped";
    EXPECT_LT(times[1].wYear, 2107);
}

TEST(Download, PendingFilesOfEarlierRunsGoWhenADownloadStarts)
{
    Download d;
    const std::string planted = GetAppFolder() + "kd-planted.dll.uTMP";
    const std::string folder = GetAppFolder() + "kd-planted folder.uTMP";
    WriteWholeFile(planted, "not from this release");
    SetFileAttributesW(WideFromUtf8(planted).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);

    // A check that finds nothing newer downloads nothing and deletes nothing.
    d.server.PutFile("info.txt", "#version=1.0\r\n#url=" + d.server.Url("/kd-new.bin") + "\r\n");
    d.engine->OnNoUpdateAvailable = [&](TauAutoUpgrader&) { d.events.push_back("NoUpdateAvailable"); };
    d.engine->CheckUpdate();
    ASSERT_TRUE(PumpUntil([&] { return !d.events.empty(); }, 60000));
    EXPECT_NE(GetFileAttributesW(WideFromUtf8(planted).c_str()), INVALID_FILE_ATTRIBUTES);

    d.events.clear();
    d.server.PutFile("kd-new.bin", "new");
    d.Release({d.server.Url("/kd-new.bin")});
    std::vector<std::string> pendingAtStart;
    d.engine->OnFileStart = [&](TauAutoUpgrader&, const std::string&, std::int64_t, OleDate, bool&) {
        pendingAtStart = Download::PendingFiles();
    };
    d.Run();
    EXPECT_EQ(pendingAtStart, std::vector<std::string>{"kd-planted folder.uTMP"})
        << "every pending file went before the first download, a folder of that name stays";
    std::sort(d.pendingAtEnd.begin(), d.pendingAtEnd.end());
    EXPECT_EQ(d.pendingAtEnd, (std::vector<std::string>{"kd-new.bin.uTMP", "kd-planted folder.uTMP"}));
    EXPECT_TRUE(RemoveDirectoryW(WideFromUtf8(folder).c_str()));
}

TEST(Download, HostileNamesGoTheLostFileWayAndWriteNothingOutside)
{
    Download d;
    d.server.PutFile("good.txt", "good");
    d.continueAfterLostFile = true;
    const std::string base = d.server.Url("/");
    d.Release({base + "..\\escape.exe", base + "a?b=c", base + "CON", base + "dir/", base + "nul.txt",
               base + "good.txt"});
    d.Run();
    const std::string denied = std::to_string(-static_cast<int>(ERROR_INVALID_NAME));
    EXPECT_EQ(d.events[0], "ConfirmUpgrade");
    EXPECT_NE(std::find(d.events.begin(), d.events.end(), "LostFile " + base + "a?b=c " + denied), d.events.end());
    EXPECT_NE(std::find(d.events.begin(), d.events.end(), "LostFile " + base + "CON " + denied), d.events.end());
    EXPECT_NE(std::find(d.events.begin(), d.events.end(), "LostFile " + base + "dir/ " + denied), d.events.end());
    EXPECT_NE(std::find(d.events.begin(), d.events.end(), "LostFile " + base + "nul.txt " + denied), d.events.end());
    EXPECT_NE(std::find(d.events.begin(), d.events.end(), "FileDone good.txt.uTMP"), d.events.end());
    for (const std::string& name : d.pendingAtEnd)
        EXPECT_TRUE(name == "good.txt.uTMP" || name == "escape.exe.uTMP") << name;
    const std::string parent = GetAppFolder().substr(0, GetAppFolder().size() - 1);
    const std::string above = parent.substr(0, parent.rfind('\\') + 1);
    EXPECT_TRUE(FindFiles(above + "escape.exe*").empty());
    EXPECT_TRUE(FindFiles(GetAppFolder() + "a*b=c*").empty());
    EXPECT_EQ(d.events.back(), "Aborted");
    ASSERT_FALSE(d.errors.empty());
    EXPECT_EQ(d.errors[0].rfind(UpgraderText(umsgError) + L" #", 0), 0u) << "the question after a lost file";
}

TEST(Download, OutputFileThatCannotBeCreatedIsReportedAsLocal)
{
    Download d;
    d.server.PutFile("first.txt", "first");
    d.server.PutFile("blocked.bin", "cannot land");
    // A folder of the temporary file's name: it can be neither removed nor created.
    const std::string blocked = GetAppFolder() + "blocked.bin.uTMP";
    ASSERT_TRUE(CreateDirectoryW(WideFromUtf8(blocked).c_str(), nullptr));
    d.Release({d.server.Url("/first.txt"), d.server.Url("/blocked.bin")});
    d.Run();
    RemoveDirectoryW(WideFromUtf8(blocked).c_str());
    ASSERT_EQ(d.events.size(), 7u) << ::testing::PrintToString(d.events);
    EXPECT_EQ(d.events[4], "FileStart blocked.bin 11 #1");
    const std::string prefix = "LostFile " + d.server.Url("/blocked.bin") + " -";
    ASSERT_EQ(d.events[5].rfind(prefix, 0), 0u) << d.events[5];
    const DWORD code = static_cast<DWORD>(std::stoul(d.events[5].substr(prefix.size())));
    EXPECT_EQ(d.events[6], "Aborted") << "never the lost connection";
    ASSERT_EQ(d.errors.size(), 1u);
    EXPECT_EQ(d.errors[0], UpgraderText(umsgLocalFailure, {WideFromUtf8(blocked), WideFromUtf8(ErrorText(code))}));
    EXPECT_EQ(d.engine->LocalFailureText(), d.errors[0]) << "told apart from the server's lost files";
    EXPECT_TRUE(Download::PendingFiles().empty()) << "first.txt.uTMP is removed with the failed upgrade";
}

TEST(Download, ABodyThatNeverEndsStopsAtTheLimitAsALocalFailure)
{
    Download d;
    d.engine->MaxDownloadSize = 256 * 1024;
    d.Release({d.server.Url("/endless/big.bin")});
    d.Run();
    ASSERT_GE(d.events.size(), 2u) << ::testing::PrintToString(d.events);
    EXPECT_EQ(d.events[d.events.size() - 2], "LostFile " + d.server.Url("/endless/big.bin") + " -" +
                                                 std::to_string(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(d.events.back(), "Aborted") << "never the lost connection";
    ASSERT_EQ(d.errors.size(), 1u);
    EXPECT_EQ(d.errors[0], UpgraderText(umsgLocalFailure, {WideFromUtf8(GetAppFolder() + "big.bin.uTMP"),
                                                           WideFromUtf8(ErrorText(ERROR_FILE_TOO_LARGE))}));
    EXPECT_TRUE(Download::PendingFiles().empty());
}

TEST(Download, AbortWhileDownloadingRemovesThePartialAndTheFinishedFiles)
{
    Download d;
    d.server.PutFile("small.txt", "small");
    d.server.PutFile("large.bin", PatternBytes(48 * 1024 * 1024));
    d.Release({d.server.Url("/small.txt"), d.server.Url("/large.bin")});
    d.engine->OnProgress = [&](TauAutoUpgrader& s, const std::string& url, std::int64_t, std::int64_t read, int,
                               int, std::uint8_t, std::uint8_t, float) {
        if (Download::FileOf(url) == "large.bin" && read > 0 && !s.Aborted()) {
            d.pendingAtEnd = Download::PendingFiles();
            s.AbortUpgrade();
        }
    };
    d.Run();
    EXPECT_EQ(d.events.back(), "Aborted");
    EXPECT_EQ(d.pendingAtEnd, (std::vector<std::string>{"large.bin.uTMP", "small.txt.uTMP"}));
    EXPECT_TRUE(PumpUntil([] { return Download::PendingFiles().empty(); }, 60000));
}

TEST(Download, AServerErrorAsksWhetherToSkipTheFile)
{
    Download d;
    d.server.PutFile("there.txt", "there");
    d.Release({d.server.Url("/missing.txt"), d.server.Url("/there.txt")});
    d.continueAfterLostFile = true;
    d.Run();
    EXPECT_EQ(d.events, (Events{"ConfirmUpgrade", "LostFile " + d.server.Url("/missing.txt") + " 404",
                                "FileStart there.txt 5 #1", "Progress there.txt", "FileDone there.txt.uTMP",
                                "EndUpgrade", "Aborted"}))
        << "no file start and no progress for a file the server does not have";
    ASSERT_EQ(d.errors.size(), 1u);
    EXPECT_EQ(d.errors[0], UpgraderText(umsgError) + L" #404: " + UpgraderText(umsgLostFile, {L"missing.txt"}));
}

TEST(Download, OnlyIfSizeDifferentSkipsFilesOfTheSameSizeButNeverTheProgram)
{
    Download d;
    d.server.PutFile("same.txt", "1234");
    d.server.PutFile("other.txt", "12345");
    // The program's own file, of the very same size: still downloaded.
    const std::string program = GetAppPath().substr(GetAppPath().rfind('\\') + 1);
    d.server.PutFile(program, ReadWholeFile(GetAppPath()));
    const std::string same = GetAppFolder() + "same.txt";
    const std::string other = GetAppFolder() + "other.txt";
    for (const std::string& path : {same, other}) {
        HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "abcd", 4, &written, nullptr);
        CloseHandle(file);
    }
    d.engine->MiscFilesUpgrade = mfuOnlyIfSizeDifferent;
    std::vector<std::string> starts;
    d.engine->OnFileStart = [&](TauAutoUpgrader&, const std::string& url, std::int64_t, OleDate, bool& can) {
        starts.push_back(Download::FileOf(url) + (can ? " yes" : " no"));
    };
    d.Release({d.server.Url("/same.txt"), d.server.Url("/other.txt"), d.server.Url("/" + program)});
    d.Run();
    DeleteFileW(WideFromUtf8(same).c_str());
    DeleteFileW(WideFromUtf8(other).c_str());
    EXPECT_EQ(starts, (std::vector<std::string>{"same.txt no", "other.txt yes", program + " yes"}));
    std::sort(d.pendingAtEnd.begin(), d.pendingAtEnd.end());
    EXPECT_EQ(d.pendingAtEnd, (std::vector<std::string>{"other.txt.uTMP", program + ".uTMP"}));
}

}  // namespace
