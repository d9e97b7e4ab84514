// Power cuts during an update, end to end, on a folder that forgets what was
// never flushed (forgetfs): the product downloads a release through the
// engine and hands over to the stub, and the power goes once during the
// download, after each step of the stub's journal (its commit too) and once
// the stub has finished. After each cut the next start of freshet.exe in
// launcher mode leaves the whole old release or the whole new one, byte for
// byte, with no download, backup or journal left, and the product starts,
// also when the power went once more during that start's own recovery.
#include "StubTestSupport.h"

#include "common/ForgettingFolder.h"
#include "common/TextLines.h"
#include "common/WineSupport.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

// As an installer leaves a product: on the disk.
void WriteDurable(const std::string& path, const std::string& bytes)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get()))
        throw std::runtime_error("cannot write " + path);
}

bool WriteDurableOnce(const std::string& path, const std::string& bytes)
{
    try {
        WriteDurable(path, bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::int64_t SizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// freshet.exe, the product and a library on forgetfs; a release of all three,
// a new file and update.ini on the test server.
struct PowerCutRun {
    ForgettingFolder disk;
    HttpTestServer server;
    ScratchFolder outside{"kdpowercut"};
    const std::string folder = disk.Path() + "App\\";
    // Every process started from the folder, and none else: the host's
    // forgetfs daemon names the folder's host path, not "C:".
    const std::string running = "[C]:.forgetfs-" + disk.Path().substr(12, disk.Path().size() - 13);
    const std::string record = outside.PathOf("record.txt");
    EnvVarScope recordTo{"KD_STUB_RECORD", record};
    EnvVarScope logTo{"KDUPDATER_LOG", outside.PathOf("freshet.log")};
    EnvVarScope boxesTo{"KDAGENT_MESSAGE_LOG", outside.PathOf("boxes.txt")};
    const std::string product = ReadWholeFile(BuildProgram("stubproduct.exe"));
    const std::string updater = ReadWholeFile(BuildProgram("freshet.exe"));
    FolderState old;
    FolderState fresh;

    PowerCutRun()
    {
        const auto settings = [&](const std::string& version) {
            return "[UpdateInfo]\r\nProcessName=app.exe\r\nVersion=" + version + "\r\nInfoURL=" +
                   server.Url("/info.txt") + "\r\nAllowUnverifiedUpdates=1\r\n";
        };
        old = {{"freshet.exe", {updater, 0}},
               {"app.exe", {product, 0}},
               {"lib.dll", {"old library", 0}},
               {"update.ini", {settings("1.0"), 0}}};
        fresh = {{"freshet.exe", {updater + "-new release-", 0}},
                 {"app.exe", {product + "-new release-", 0}},
                 {"lib.dll", {"new library", 0}},
                 {"new.txt", {"a new file", 0}},
                 {"update.ini", {settings("2.0"), 0}}};
        std::string info = "#version=2.0\r\n";
        const char* keys[] = {"url", "url0", "url3", "url4", "url5"};
        std::size_t key = 0;
        for (const auto& [name, state] : fresh) {
            server.PutFile(name, state.content);
            info += std::string("#") + keys[key++] + "=" + server.Url("/" + name) + "\r\n";
        }
        server.PutFile("info.txt", info);
        // The same release with a library whose body never ends.
        const std::string library = server.Url("/lib.dll");
        info.replace(info.find(library), library.size(), server.Url("/endless/lib.dll"));
        server.PutFile("info-endless.txt", info);
        CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
    }

    std::string App(const std::string& name) const { return folder + name; }

    // The old release, on the disk, and nothing else (a product the last
    // round started may still be letting go of its file).
    void ResetToOld() const
    {
        for (const auto& [name, state] : ReadFolder(folder)) {
            if (!old.count(name)) {
                SetFileAttributesW(WideFromUtf8(App(name)).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(WideFromUtf8(App(name)).c_str());
            }
        }
        for (const auto& [name, state] : old)
            ASSERT_TRUE(PumpUntil([&] { return WriteDurableOnce(App(name), state.content); }, 30000)) << name;
    }

    UniqueKernelHandle Upgrade(const std::string& info) const
    {
        return StartProcess("\"" + App("app.exe") + "\" --upgrade " + server.Url("/" + info));
    }

    // Power off: every process of the folder ends, then what was never
    // flushed is gone.
    void Cut() const
    {
        KillOutright(running);
        disk.PowerCut();
    }

    // The next start: freshet.exe as the product's launcher. The state it
    // leaves once the product runs (a roll-back of freshet.exe itself ends
    // in the stub it hands over to).
    FolderState NextStart(std::size_t& starts) const
    {
        EXPECT_EQ(WaitForExit(StartProcess("\"" + App("freshet.exe") + "\"").get(), 60000), 0u);
        ++starts;
        EXPECT_TRUE(PumpUntil([&] { return EndedLines(ReadWholeFile(record)).size() >= starts; }, 60000))
            << "the product starts";
        FolderState now;
        PumpUntil([&] { return (now = ReadFolder(folder)) == old || now == fresh; }, 60000);
        return now;
    }

    // The next start, cut after `step` steps of its recovery (or of the
    // stub's, when freshet.exe hands the roll-back of itself over); false
    // when it recovered and started the product before that step.
    bool CutDuringRecovery(HANDLE halted, int step, std::size_t& starts) const
    {
        const EnvVarScope halt("KDSTUB_HALT_AT_STEP", std::to_string(step));
        const UniqueKernelHandle freshet = StartProcess("\"" + App("freshet.exe") + "\"");
        bool stopped = false;
        EXPECT_TRUE(PumpUntil(
            [&] {
                stopped = WaitForSingleObject(halted, 0) == WAIT_OBJECT_0;
                return stopped || EndedLines(ReadWholeFile(record)).size() > starts;
            },
            60000));
        if (!stopped) {
            ++starts;
            return false;
        }
        Cut();
        return true;
    }
};

TEST(StubPowerCut, APowerCutAtAnyPointOfAnUpdateLeavesTheOldOrTheNewReleaseAfterTheNextStart)
{
    PowerCutRun run;
    if (!run.disk.Unavailable().empty())
        GTEST_SKIP() << run.disk.Unavailable();
    std::size_t starts = 0;

    {
        SCOPED_TRACE("cut during the download");
        run.ResetToOld();
        const UniqueKernelHandle product = run.Upgrade("info-endless.txt");
        ASSERT_TRUE(PumpUntil([&] { return SizeOf(run.App("lib.dll.uTMP")) > 0; }, 60000));
        ++starts;
        run.Cut();
        EXPECT_EQ(run.NextStart(starts), run.old);
    }

    const std::string eventName = "KdStubPowerCut-" + std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle halted(CreateEventW(nullptr, FALSE, FALSE, WideFromUtf8(eventName).c_str()));
    const EnvVarScope haltEvent("KDSTUB_HALT_EVENT", eventName);
    int olds = 0;
    int news = 0;
    int recoveryCuts = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE("cut after journal step " + std::to_string(step));
        ASSERT_LT(step, 40) << "the stub never finished";
        run.ResetToOld();
        bool finished = false;
        {
            const EnvVarScope halt("KDSTUB_HALT_AT_STEP", std::to_string(step));
            const UniqueKernelHandle product = run.Upgrade("info.txt");
            ++starts;
            // Stopped at the step, or finished: the new product's start.
            ASSERT_TRUE(PumpUntil(
                [&] {
                    finished = EndedLines(ReadWholeFile(run.record)).size() > starts;
                    return finished || WaitForSingleObject(halted.get(), 0) == WAIT_OBJECT_0;
                },
                120000));
            EXPECT_EQ(WaitForExit(product.get(), 60000), 0u) << "the product handed over";
        }
        starts += finished;
        run.Cut();
        const bool cutAgain = run.CutDuringRecovery(halted.get(), 1 + step % 2, starts);
        recoveryCuts += cutAgain;
        const FolderState now = run.NextStart(starts);
        EXPECT_TRUE(now == run.old || now == run.fresh) << "a mixed or damaged release";
        olds += now == run.old;
        news += now == run.fresh;
        if (finished) {
            EXPECT_EQ(now, run.fresh) << "a cut after the stub finished keeps the new release";
            break;
        }
    }
    EXPECT_GT(olds, 0) << "a cut before the commit rolls back";
    EXPECT_GT(news, 1) << "a cut after the commit completes";
    EXPECT_GT(recoveryCuts, 1) << "recoveries were cut too";
}

}  // namespace
