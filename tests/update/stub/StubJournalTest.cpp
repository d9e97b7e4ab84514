// A stub killed outright (its Linux process; a power cut is the power-cut
// test's) after each step of its journal: the next start, of the stub or of
// freshet.exe in any mode, leaves the whole old release or the whole new one,
// with no backup, download or journal left over, freshet.exe included.
#include "StubTestSupport.h"

#include "common/WineSupport.h"
#include "http/FileSha256.h"
#include "update/stub/StubRules.h"
#include "winutil/ProfileFile.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A release of freshet.exe's folder: the product, a library, a new file and
// update.ini with the next version.
struct UpdaterFolder {
    ReleaseFolder release{"Journal App"};
    const std::string log = release.Record() + ".log";
    const std::string boxes = release.Record() + ".boxes";
    EnvVarScope logTo{"KDUPDATER_LOG", log};
    EnvVarScope boxesTo{"KDAGENT_MESSAGE_LOG", boxes};

    UpdaterFolder()
    {
        CopyFileW(WideFromUtf8(BuildProgram("freshet.exe")).c_str(), WideFromUtf8(Freshet()).c_str(), FALSE);
        release.Add("lib.dll", "old library");
        Settings("update.ini", "1.0");
    }
    std::string Freshet() const { return release.PathOf("freshet.exe"); }
    std::string NewUpdater() const { return ReadWholeFile(BuildProgram("freshet.exe")) + "-new release-"; }
    void Settings(const std::string& name, const std::string& version) const
    {
        release.Add(name, "[UpdateInfo]\r\nProcessName=app.exe\r\nVersion=" + version +
                              "\r\nInfoURL=http://127.0.0.1:9/none.txt\r\n");
    }
    // The updater is part of the release: a start after the cut may be the
    // new freshet.exe, which cannot put its old copy back itself.
    void AddPendingRelease() const
    {
        release.AddPending("freshet.exe.uTMP", NewUpdater());
        release.AddPending("app.exe.uTMP", release.NewProduct());
        release.AddPending("lib.dll.uTMP", "new library");
        release.AddPending("new.txt.uTMP", "a new file");
        Settings("update.ini.uTMP", "2.0");
        SetFileAttributesW(WideFromUtf8(release.PathOf("update.ini.uTMP")).c_str(),
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
    }
    std::string Manifest() const
    {
        return release.ManifestOf({"freshet.exe", "app.exe", "lib.dll", "new.txt", "update.ini"}, {}, "freshet.exe");
    }
};

bool WriteFileOnce(const std::string& path, const std::string& content)
{
    try {
        WriteWholeFile(path, content);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Runs freshet.exe with the arguments to its end; the product it may start
// records itself.
DWORD RunFreshet(const UpdaterFolder& folder, const std::string& arguments)
{
    const UniqueKernelHandle process = StartProcess("\"" + folder.Freshet() + "\" " + arguments);
    return WaitForExit(process.get(), 60000);
}

TEST(StubJournal, AStubKilledAfterAnyStepLeavesTheOldOrTheNewReleaseAfterTheNextStart)
{
    UpdaterFolder folder;
    const ReleaseFolder& release = folder.release;
    const FolderState old = ReadFolder(release.Folder());
    folder.AddPendingRelease();
    FolderState fresh = old;
    fresh["freshet.exe"] = {folder.NewUpdater(), 0};
    fresh["app.exe"] = {release.NewProduct(), 0};
    fresh["lib.dll"] = {"new library", 0};
    fresh["new.txt"] = {"a new file", 0};
    fresh["update.ini"] = {ReadWholeFile(release.PathOf("update.ini.uTMP")), 0};
    for (const std::string& name : PendingInListingOrder(release.Folder()))
        DeleteFileW(WideFromUtf8(release.PathOf(name)).c_str());

    const std::string eventName = "KdStubHalted-" + std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle halted(CreateEventW(nullptr, FALSE, FALSE, WideFromUtf8(eventName).c_str()));
    const EnvVarScope haltEvent("KDSTUB_HALT_EVENT", eventName);
    int olds = 0;
    int news = 0;
    // The product's starts: each one comes after freshet.exe has done its
    // work in the folder (and let go of its lock).
    std::size_t starts = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE("halted after step " + std::to_string(step));
        ASSERT_LT(step, 40) << "the stub never finished";
        folder.AddPendingRelease();
        const std::string mark =
            "kdhalt-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(step) + "x";
        const ScratchFolder own("kdstubrun");
        const std::string stub = own.CopyIn(BuildProgram("Zeredira3.exe"), "Zeredira3.exe");
        own.AddFile(ManifestFileName, folder.Manifest());
        bool finished = false;
        {
            const EnvVarScope halt("KDSTUB_HALT_AT_STEP", std::to_string(step));
            const UniqueKernelHandle process =
                StartProcess("\"" + stub + "\" \"" + folder.Freshet() + "\" +/" + mark + "0");
            const HANDLE both[] = {halted.get(), process.get()};
            const DWORD which = WaitForMultipleObjects(2, both, FALSE, 60000);
            ASSERT_TRUE(which == WAIT_OBJECT_0 || which == WAIT_OBJECT_0 + 1);
            finished = which == WAIT_OBJECT_0 + 1;
            if (!finished) {
                try {
                    KillOutright("Zeredira3[.]exe.*" + mark);
                } catch (...) {
                    TerminateProcess(process.get(), 1);
                    throw;
                }
                ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0) << "killed";
            }
        }
        if (!finished) {
            // The next start: the stub again (handed no manifest), freshet's
            // launcher mode, or a silent update that finds no server.
            switch (step % 3) {
            case 0:
                EXPECT_EQ(RunStub("\"" + folder.Freshet() + "\" +/next0"), static_cast<DWORD>(StubExit::badManifest));
                ++starts;
                break;
            case 1:
                EXPECT_EQ(RunFreshet(folder, ""), 0u);
                ++starts;
                break;
            default:
                EXPECT_EQ(RunFreshet(folder, "/silent 0"), 0u);
                break;
            }
        }
        starts += finished;
        EXPECT_EQ(release.WaitForRecords(starts).size(), starts);
        // A roll-back of freshet.exe is finished by the stub it hands it to.
        FolderState now;
        EXPECT_TRUE(PumpUntil([&] { return (now = ReadFolder(release.Folder())) == old || now == fresh; }, 60000))
            << "a mixed release";
        olds += now == old;
        news += now == fresh;
        // The next round starts from the old release, once a product that
        // was started has let go of its file.
        for (const auto& [name, state] : old) {
            SetFileAttributesW(WideFromUtf8(release.PathOf(name)).c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(PumpUntil([&] { return WriteFileOnce(release.PathOf(name), state.content); }, 60000)) << name;
        }
        DeleteFileW(WideFromUtf8(release.PathOf("new.txt")).c_str());
        if (finished) {
            EXPECT_EQ(now, fresh) << "a stub that was not stopped installs the release";
            break;
        }
    }
    EXPECT_GT(olds, 0) << "a stub killed before its commit rolls back";
    EXPECT_GT(news, 1) << "a stub killed after its commit completes";
    EXPECT_NE(ReadWholeFile(folder.log).find("has to put back freshet.exe itself"), std::string::npos)
        << "a new freshet.exe handed the roll-back of itself to the stub";

    // Left by a stub of an earlier version: a backup and a download of the
    // product, no journal. The product comes back; it never becomes freshet.exe.
    const std::string updater = ReadWholeFile(folder.Freshet());
    DeleteFileW(WideFromUtf8(release.PathOf("app.exe")).c_str());
    release.Add("app.exe.uBAK", release.OldProduct());
    release.AddPending("app.exe.uTMP", "a product the crashed install left");
    EXPECT_EQ(RunFreshet(folder, ""), 0u);
    EXPECT_EQ(release.WaitForRecords(starts + 1).size(), starts + 1);
    EXPECT_EQ(ReadWholeFile(folder.Freshet()), updater);
    EXPECT_EQ(ReadFolder(release.Folder()), old);
}

// What freshet.exe's start did with a journal, from its log.
std::string LastOutcome(const UpdaterFolder& folder)
{
    const std::string log = ReadWholeFile(folder.log);
    const std::size_t at = log.rfind("install outcome ");
    return at == std::string::npos ? std::string() : log.substr(at, log.find('\n', at) - at);
}

TEST(StubJournal, CutGarbledHostileOrDamagedJournalsMoveNothingElseAndAreTold)
{
    UpdaterFolder folder;
    const ReleaseFolder& release = folder.release;
    release.Add("keep.txt", "not the install's");
    const FolderState old = ReadFolder(release.Folder());
    const std::string journal = release.PathOf("update.journal");
    const std::string libDigest = DigestOfFile(release.PathOf("lib.dll"));
    const std::string newLibrary = "new library";
    const std::string newDigest = HexOf(Sha256Of(newLibrary));
    struct Case {
        const char* what;
        std::string journal;
        std::function<void()> leave;  // the files the cut-off install left
        FolderState after;
        const char* told;
    };
    const std::vector<Case> cases = {
        {"cut before it reached the disk", std::string(120, '\0'), [] {}, old, "journal was unreadable"},
        {"naming a file outside the folder",
         "keldora-update-journal 2\nmove\t1\t" + newDigest + "\t..\\keep.txt.uTMP\t..\\keep.txt\nplanned\t1\n",
         [] {}, old, "journal was unreadable"},
        {"deleting a file it never wrote",
         "keldora-update-journal 2\nmove\t0\t" + newDigest + "\tkeep.txt.uTMP\tkeep.txt\nplanned\t1\n", [] {}, old,
         "was rolled back"},
        {"cut before its first move, beside a file planted under a backup's name",
         "keldora-update-journal 2\nmove\t1\t" + newDigest + "\tlib.dll.uTMP\tlib.dll\nplanned\t1\n",
         [&] { release.Add("lib.dll.uBAK", "planted"); }, old, "was rolled back"},
        {"committed with a damaged new file",
         "keldora-update-journal 2\nmove\t1\t" + newDigest + "\tlib.dll.uTMP\tlib.dll\nplanned\t1\ncommit\n",
         [&] {
             release.Add("lib.dll.uBAK", "old library");
             release.Add("lib.dll", std::string(newLibrary.size(), '\0'));
         },
         old, "differs from its digest"},
        {"committed, cut while it was undone: one old file back beside its backup, one new file left",
         "keldora-update-journal 2\nmove\t1\t" + newDigest + "\tlib.dll.uTMP\tlib.dll\nmove\t1\t" +
             HexOf(Sha256Of(newLibrary + "!")) + "\tkeep.txt.uTMP\tkeep.txt\nplanned\t2\ncommit\n",
         [&] {
             release.Add("lib.dll.uBAK", "old library");
             release.Add("keep.txt.uBAK", "not the install's");
             release.Add("keep.txt", newLibrary + "!");
         },
         old, "differs from its digest"},
        {"committed and whole",
         "keldora-update-journal 2\nmove\t1\t" + newDigest + "\tlib.dll.uTMP\tlib.dll\nplanned\t1\ncommit\n",
         [&] {
             release.Add("lib.dll.uBAK", "old library");
             release.Add("lib.dll", newLibrary);
         },
         [&] {
             FolderState state = old;
             state["lib.dll"] = {newLibrary, 0};
             return state;
         }(),
         "was completed"},
        {"of the old stub, committed, its new file unchecked",
         "keldora-update-journal 1\nmove\t1\tlib.dll.uTMP\tlib.dll\nplanned\t1\ncommit\n",
         [&] {
             release.Add("lib.dll.uBAK", "old library");
             release.Add("lib.dll", std::string(newLibrary.size(), '\0'));
         },
         old, "was rolled back"},
    };
    std::size_t starts = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [name, state] : old)
            release.Add(name, state.content);
        c.leave();
        release.Add("update.journal", c.journal);
        EXPECT_EQ(RunFreshet(folder, ""), 0u);
        EXPECT_EQ(release.WaitForRecords(++starts).size(), starts) << "the product starts";
        EXPECT_EQ(ReadFolder(release.Folder()), c.after);
        EXPECT_NE(LastOutcome(folder).find(c.told), std::string::npos) << LastOutcome(folder);
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(journal).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(libDigest, DigestOfFile(release.PathOf("lib.dll"))) << "the old library is back";
}

TEST(StubJournal, AJournalThatCannotBeReadBesideBackupsKeepsThemAndMovesNothing)
{
    // After the moves the backups may be the only old files: nothing decides
    // over them without a journal that says what they are.
    UpdaterFolder folder;
    const ReleaseFolder& release = folder.release;
    release.Add("lib.dll", "new library");
    release.Add("lib.dll.uBAK", "old library");
    release.Add("update.journal", "keldora-update-journal 3\nfrom a stub to come\n");
    const FolderState before = ReadFolder(release.Folder());
    EXPECT_EQ(RunFreshet(folder, ""), 0u);
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u) << "the product starts";
    EXPECT_EQ(ReadFolder(release.Folder()), before);
    EXPECT_NE(LastOutcome(folder).find("could not be read while backups"), std::string::npos) << LastOutcome(folder);
}

}  // namespace
