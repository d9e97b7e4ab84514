// The stub as a real process on real files: it waits for the running product,
// replaces the release, restarts the product, and on any failure leaves the
// whole old release in place.
#include "StubTestSupport.h"

#include "update/auAutoUpgrader.h"
#include "update/stub/StubRules.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Start {
    std::string module;
    size_t moduleSize = 0;
    DWORD attributes = 0;
    std::string commandLine;
};

Start ParseRecord(const std::string& line)
{
    const size_t a = line.find('|');
    const size_t b = line.find('|', a + 1);
    const size_t c = line.find('|', b + 1);
    return {line.substr(0, a), std::stoul(line.substr(a + 1, b - a - 1)),
            static_cast<DWORD>(std::stoul(line.substr(b + 1, c - b - 1), nullptr, 16)), line.substr(c + 1)};
}

DWORD Code(StubExit exit)
{
    return static_cast<DWORD>(exit);
}

FolderState NewReleaseOf(const ReleaseFolder& release)
{
    return {{"app.exe", {release.NewProduct(), 0}},
            {"lib.dll", {"new library, longer than the old one", 0}},
            {"data.txt", {"", 0}},
            {"new.txt", {"a file the old release did not have", 0}},
            {"keep.txt", {"not in the release", 0}}};
}

// The product was started again, from its own folder, with the restart parameters.
void ExpectStart(const Start& start, const std::string& program, const std::string& params, size_t moduleSize)
{
    EXPECT_EQ(start.module, program);
    EXPECT_EQ(start.moduleSize, moduleSize);
    EXPECT_EQ(start.commandLine, "\"" + program + "\"" + (params.empty() ? "" : " " + params));
}

TEST(StubProgram, WaitsForTheProductReplacesTheReleaseAndRestarts)
{
    const ReleaseFolder release("My App");
    release.AddRelease();
    {
        const HoldingProduct running(release.Program(), /*milliseconds=*/1500);
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()), Code(StubExit::done));
    }
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release));
    EXPECT_EQ(TakeOutcome(release.Folder()).code, 0);
    const std::vector<std::string> records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    ExpectStart(ParseRecord(records[1]), release.Program(), "/afterupgrade", release.NewProduct().size());
}

TEST(StubProgram, AFileOfTheReleaseThatTheProductCreatesAsItClosesIsReplacedToo)
{
    // The plan made before the wait said "no target": the stub looks again.
    const ReleaseFolder release;
    release.AddRelease();
    {
        const HoldingProduct running(release.Program(), /*milliseconds=*/1500, {}, release.PathOf("new.txt"));
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()), Code(StubExit::done));
    }
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release)) << "no backup, no download left";
    EXPECT_EQ(TakeOutcome(release.Folder()).code, 0);
    EXPECT_EQ(release.WaitForRecords(2).size(), 2u);
}

// A scanner holding a download or the manifest for a moment as the stub
// starts is waited out; a download held past the limit stops the install.
TEST(StubProgram, ADownloadOrManifestAScannerHoldsIsWaitedForAndPastTheLimitNothingIsReplaced)
{
    const ReleaseFolder release;
    release.AddRelease();
    const auto scan = [&](DWORD milliseconds) {
        UniqueFile held(CreateFileW(WideFromUtf8(release.PathOf("lib.dll.uTMP")).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(held);
        return std::thread([milliseconds, file = std::move(held)]() mutable {
            Sleep(milliseconds);
            file.reset();
        });
    };
    std::thread scanner = scan(1500);
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest(), /*manifestHeldMs=*/1500),
              Code(StubExit::done));
    scanner.join();
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release));
    EXPECT_EQ(TakeOutcome(release.Folder()).code, 0);
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u);

    release.AddPending("lib.dll.uTMP", "a library that stays held");
    const FolderState before = ReadFolder(release.Folder());
    {
        const EnvVarScope limit("KDSTUB_WAIT_LIMIT_MS", "300");
        scanner = scan(3000);
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ManifestOf({"lib.dll"})),
                  Code(StubExit::stillHeld));
        scanner.join();
    }
    // The held download cannot be deleted either: the next start removes it.
    EXPECT_EQ(ReadFolder(release.Folder()), before);
    const OutcomeRecord outcome = TakeOutcome(release.Folder());
    EXPECT_EQ(outcome.code, static_cast<int>(StubExit::stillHeld));
    EXPECT_NE(outcome.text.find("lib.dll was still in use"), std::string::npos) << outcome.text;
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u) << "nothing started";
}

TEST(StubProgram, ARollBackThatStaysStuckRefusesTheInstallAndKeepsItsJournal)
{
    // Cut off earlier: data.txt is the new file, its backup the old one, and
    // something holds data.txt so that the backup cannot go back.
    const ReleaseFolder release;
    release.AddRelease();
    release.Add("data.txt", "data of the install cut off");
    release.Add("data.txt.uBAK", "old data");
    const std::string journal = "keldora-update-journal 2\nmove\t1\t" +
                                HexOf(DigestOfFile(release.PathOf("data.txt"))) +
                                "\tdata.txt.uTMP\tdata.txt\nplanned\t1\n";
    release.Add("update.journal", journal);
    {
        const UniqueFile held(CreateFileW(WideFromUtf8(release.PathOf("data.txt")).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const EnvVarScope limit("KDSTUB_WAIT_LIMIT_MS", "300");
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()),
                  Code(StubExit::recoveryStuck));
    }
    EXPECT_EQ(ReadWholeFile(release.PathOf("update.journal")), journal) << "never overwritten by a new one";
    EXPECT_EQ(ReadWholeFile(release.PathOf("data.txt.uBAK")), "old data");
    EXPECT_EQ(ReadWholeFile(release.Program()), release.OldProduct()) << "nothing installed";
    EXPECT_TRUE(PendingInListingOrder(release.Folder()).empty());
    const OutcomeRecord outcome = TakeOutcome(release.Folder());
    EXPECT_EQ(outcome.code, static_cast<int>(StubExit::recoveryStuck));
    EXPECT_NE(outcome.text.find("could not be rolled back yet"), std::string::npos) << outcome.text;

    // Let go: the next run finishes the roll-back, then installs.
    release.AddRelease();
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()), Code(StubExit::done));
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release));
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u) << "started once in all, by the second run";
}

TEST(StubProgram, QuotedAndOldFormsWithBlanksPlusAndUnicodeInThePath)
{
    const ReleaseFolder release("a +b\\Программы\\Jörg 产品 C++ x");
    release.AddRelease();
    EXPECT_EQ(RunStub("\"" + release.Program() + "\" +/after +more0", release.ReleaseManifest()), Code(StubExit::done));
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release));
    std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/after +more", release.NewProduct().size());

    release.AddPending("lib.dll.uTMP", "third release");
    EXPECT_EQ(RunStub(release.Program() + " + 0", release.ManifestOf({"lib.dll"})), Code(StubExit::done));
    EXPECT_EQ(ReadWholeFile(release.PathOf("lib.dll")), "third release");
    records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    ExpectStart(ParseRecord(records[1]), release.Program(), " ", release.NewProduct().size());
}

TEST(StubProgram, AReadOnlyTargetLeavesTheOldReleaseAndRestarts)
{
    const ReleaseFolder release;
    release.AddRelease();
    SetFileAttributesW(WideFromUtf8(release.PathOf("data.txt")).c_str(), FILE_ATTRIBUTE_READONLY);
    const FolderState before = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()), Code(StubExit::accessDenied));
    EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(before));
    const OutcomeRecord outcome = TakeOutcome(release.Folder());
    EXPECT_EQ(outcome.code, static_cast<int>(StubExit::accessDenied));
    EXPECT_NE(outcome.text.find("data.txt is read-only"), std::string::npos) << outcome.text;
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/afterupgrade", release.OldProduct().size());
    SetFileAttributesW(WideFromUtf8(release.PathOf("data.txt")).c_str(), FILE_ATTRIBUTE_NORMAL);

    // A read-only program file is no reason to wait: the stub gives up at once.
    release.AddRelease();
    SetFileAttributesW(WideFromUtf8(release.Program()).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()), Code(StubExit::accessDenied));
    SetFileAttributesW(WideFromUtf8(release.Program()).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadWholeFile(release.Program()), release.OldProduct());
    EXPECT_EQ(release.WaitForRecords(2).size(), 2u);

    // A download cannot take the place of a folder.
    release.Add("plugins\\one.txt", "in a folder");
    release.AddPending("plugins.uTMP", "a file");
    const FolderState withFolder = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ManifestOf({"plugins"})),
              Code(StubExit::accessDenied));
    EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(withFolder));
    EXPECT_EQ(ReadWholeFile(release.PathOf("plugins\\one.txt")), "in a folder");
    EXPECT_EQ(release.WaitForRecords(3).size(), 3u);
}

TEST(StubProgram, ATargetHeldWithoutSharingDeletionIsWaitedForAndNothingStarts)
{
    const ReleaseFolder release;
    release.AddRelease();
    release.Add("new.txt", "an old file after all");
    // A data file the product keeps open: renaming it would fail half-way.
    const FolderState before = ReadFolder(release.Folder());
    {
        UniqueFile held(CreateFileW(WideFromUtf8(release.PathOf("new.txt")).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const EnvVarScope limit("KDSTUB_WAIT_LIMIT_MS", "0");
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()),
                  Code(StubExit::stillHeld))
            << "a target held without sharing deletion is waited for";
    }
    EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(before));
    EXPECT_EQ(TakeOutcome(release.Folder()).code, static_cast<int>(StubExit::stillHeld));
    EXPECT_EQ(release.WaitForRecords(1).size(), 0u) << "nothing is started while a file is held";
}

TEST(StubProgram, GivesUpWaitingAfterTheLimitStartsNothingAndTouchesNothing)
{
    const ReleaseFolder release;
    release.AddRelease();
    const FolderState before = ReadFolder(release.Folder());
    const EnvVarScope limit("KDSTUB_WAIT_LIMIT_MS", "300");
    {
        // Held until the stub has given up.
        const HoldingProduct running(release.Program(), /*milliseconds=*/INFINITE);
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ReleaseManifest()),
                  Code(StubExit::stillHeld));
    }
    EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(before));
    const OutcomeRecord outcome = TakeOutcome(release.Folder());
    EXPECT_EQ(outcome.code, static_cast<int>(StubExit::stillHeld));
    EXPECT_NE(outcome.text.find("still in use"), std::string::npos) << outcome.text;
    Sleep(1000);
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u) << "only the holding product's own start";
}

TEST(StubProgram, ANewProgramFileOfAReleaseNeverTakesTheUpdatersPlace)
{
    // The updater (here app.exe, as the manifest names it) is not in the
    // release: the new helper.exe is installed under its own name.
    const ReleaseFolder release;
    release.Add("product.exe", "old product");
    release.AddPending("product.exe.uTMP", "new product");
    release.AddPending("helper.exe.uTMP", "a new helper program");
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ManifestOf({"helper.exe", "product.exe"})),
              Code(StubExit::done));
    EXPECT_EQ(ReadFolder(release.Folder()), (FolderState{{"app.exe", {release.OldProduct(), 0}},
                                                          {"product.exe", {"new product", 0}},
                                                          {"helper.exe", {"a new helper program", 0}}}));
    std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/afterupgrade", release.OldProduct().size());

    // A manifest written for another updater installs nothing here.
    release.AddPending("product.exe.uTMP", "newer product");
    const FolderState before = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", release.ManifestOf({"product.exe"}, {}, "freshet.exe")),
              Code(StubExit::badManifest));
    EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(before));
    EXPECT_NE(TakeOutcome(release.Folder()).text.find("names another updater (freshet.exe)"), std::string::npos);
    EXPECT_EQ(release.WaitForRecords(2).size(), 2u);
}

TEST(StubProgram, StrayDownloadsAreDeletedNeverInstalled)
{
    // Left by a cut download, a rolled-back run or anyone who may write here:
    // none is in the manifest, so none is moved, and no executable among
    // them stands for the program.
    const ReleaseFolder release;
    release.Add("lib.dll", "old library");
    release.AddPending("lib.dll.uTMP", "new library");
    release.AddPending("helper.exe.uTMP", "a stray program");
    release.AddPending("version.dll.uTMP", "a stray library");
    release.AddPending("..uTMP", "would name the folder itself");
    release.Add("kdProduct.exe.uBAK", "the product before a crashed install");
    release.AddPending("kdProduct.exe.uTMP", "the product a crashed install left");
    release.Add("dir.uTMP\\inner.txt", "a folder");
    const std::string manifest = release.ManifestOf({"lib.dll"});

    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", manifest), Code(StubExit::done));
    EXPECT_EQ(ReadFolder(release.Folder()),
              (FolderState{{"app.exe", {release.OldProduct(), 0}},
                           {"lib.dll", {"new library", 0}},
                           {"kdProduct.exe", {"the product before a crashed install", 0}},
                           {"dir.uTMP", {"", 0}}}))
        << "the backup went back where its file was missing; the strays are gone";
    EXPECT_EQ(ReadWholeFile(release.PathOf("dir.uTMP\\inner.txt")), "a folder");
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/afterupgrade", release.OldProduct().size());
}

TEST(StubProgram, SetupModeRunsTheSetupProgramThenTheProgram)
{
    const ReleaseFolder release;
    const std::string setup = release.OldProduct() + "-setup-";
    release.AddPending("setup.exe.uTMP", setup);
    release.Add("data.txt", "old data");
    release.AddPending("data.txt.uTMP", "new data");
    EXPECT_EQ(RunStub(release.Program() + " +/verysilent1", release.ManifestOf({"setup.exe", "data.txt"})),
              Code(StubExit::done));

    const std::vector<std::string> records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    const Start setupStart = ParseRecord(records[0]);
    ExpectStart(setupStart, release.PathOf("setup.exe"), "/verysilent", setup.size());
    EXPECT_TRUE(setupStart.attributes & FILE_ATTRIBUTE_HIDDEN);
    ExpectStart(ParseRecord(records[1]), release.Program(), "/verysilent", release.OldProduct().size());
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(release.PathOf("setup.exe")).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadWholeFile(release.PathOf("data.txt")), "new data");
}

TEST(StubProgram, SetupModeWithAFailedReplacementRunsNoSetupProgram)
{
    const ReleaseFolder release;
    release.AddPending("setup.exe.uTMP", release.OldProduct() + "-setup-");
    release.Add("data.txt", "old data");
    release.AddPending("data.txt.uTMP", "new data");
    SetFileAttributesW(WideFromUtf8(release.PathOf("data.txt")).c_str(), FILE_ATTRIBUTE_READONLY);
    const FolderState before = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/verysilent1", release.ManifestOf({"setup.exe", "data.txt"})),
              Code(StubExit::accessDenied));
    EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(before));
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/verysilent", release.OldProduct().size());
    SetFileAttributesW(WideFromUtf8(release.PathOf("data.txt")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(StubProgram, SetupModeWithoutASetupProgramKeepsEveryFile)
{
    // The program's own copy is pending, so no executable is a setup program
    // and nothing is deleted after the run.
    const ReleaseFolder release;
    release.AddPending("app.exe.uTMP", release.NewProduct());
    release.AddPending("tool.exe.uTMP", "tool");
    EXPECT_EQ(RunStub(release.Program() + " +/s1", release.ManifestOf({"app.exe", "tool.exe"})), Code(StubExit::done));
    EXPECT_EQ(ReadWholeFile(release.Program()), release.NewProduct());
    EXPECT_EQ(ReadWholeFile(release.PathOf("tool.exe")), "tool");
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/s", release.NewProduct().size());
}

TEST(StubProgram, BadManifestsAndChangedDownloadsMoveNothingAndAreReported)
{
    const ReleaseFolder release;
    const std::string good = [&] {
        release.AddRelease();
        return release.ReleaseManifest();
    }();
    const std::string digest = good.substr(good.find("file\t") + 5, 64);
    const auto naming = [&](const std::string& name) {
        return std::string(ManifestHeader) + "\nupdater\tapp.exe\nfile\t" + digest + "\t" + name + "\nend\t1\n";
    };
    struct Case {
        const char* what;
        std::optional<std::string> manifest;
        StubExit code;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"no manifest", std::nullopt, StubExit::badManifest, "no manifest"},
        {"truncated", good.substr(0, good.size() - 3), StubExit::badManifest, "cut short"},
        {"garbled", good.substr(0, good.find("file\t") + 2) + "\x01" + good.substr(good.find("file\t") + 3),
         StubExit::badManifest, "garbled"},
        {"outside", naming("..\\app.exe"), StubExit::badManifest, "outside"},
        {"dot dot", naming(".."), StubExit::badManifest, "outside"},
        {"absolute", naming(release.PathOf("lib.dll")), StubExit::badManifest, "outside"},
        {"stream", naming("lib.dll:evil"), StubExit::badManifest, "outside"},
        {"changed download", good, StubExit::digestMismatch, "lib.dll does not match the SHA-256 digest"},
    };
    std::size_t starts = 0;
    for (const Case& c : cases) {
        release.AddRelease();
        if (c.code == StubExit::digestMismatch)
            WriteWholeFile(release.PathOf("lib.dll.uTMP"), "new library, changed after the check");
        const FolderState before = ReadFolder(release.Folder());
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", c.manifest), Code(c.code)) << c.what;
        EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(before)) << c.what;
        const OutcomeRecord outcome = TakeOutcome(release.Folder());
        EXPECT_EQ(outcome.code, static_cast<int>(c.code)) << c.what;
        EXPECT_NE(outcome.text.find(c.reason), std::string::npos) << c.what << ": " << outcome.text;
        EXPECT_EQ(release.WaitForRecords(++starts).size(), starts) << c.what << ": the old program starts again";
    }
}

// A file the engine found already holding the release's digest is named
// "keep": never moved, but checked, so a change after the engine's check
// keeps the whole old release.
TEST(StubProgram, AKeptFileStaysAsItIsAndOneChangedSinceTheCheckStopsTheInstall)
{
    const ReleaseFolder release;
    release.AddRelease();
    const std::string manifest = [&] {
        std::vector<ManifestEntry> entries;
        for (const std::string name : {"app.exe", "lib.dll", "data.txt", "new.txt"})
            entries.push_back({name, DigestOfFile(release.PathOf(name + ".uTMP"))});
        entries.push_back({"keep.txt", DigestOfFile(release.PathOf("keep.txt")), /*keep=*/true});
        return ManifestText({}, "app.exe", entries);
    }();
    ASSERT_NE(manifest.find("keep\t"), std::string::npos);

    WriteWholeFile(release.PathOf("keep.txt"), "changed after the check");
    const FolderState before = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", manifest), Code(StubExit::digestMismatch));
    EXPECT_EQ(ReadFolder(release.Folder()), WithoutPending(before));
    const OutcomeRecord refused = TakeOutcome(release.Folder());
    EXPECT_NE(refused.text.find("keep.txt changed since the updater"), std::string::npos) << refused.text;
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u) << "the old program starts again";

    release.AddRelease();
    // A download of a kept file's name, left by an earlier run, is never installed.
    release.AddPending("keep.txt.uTMP", "a stray download");
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0", manifest), Code(StubExit::done));
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release));
    EXPECT_EQ(TakeOutcome(release.Folder()).code, 0);
    EXPECT_EQ(release.WaitForRecords(2).size(), 2u);
}

TEST(StubProgram, BadCommandLinesTouchNothing)
{
    const ReleaseFolder release;
    release.AddRelease();
    const FolderState before = ReadFolder(release.Folder());
    const std::string log = release.Folder() + "-box.txt";
    const EnvVarScope box("KDSTUB_MESSAGE_LOG", log);

    EXPECT_EQ(RunStub(""), Code(StubExit::usage));
    EXPECT_NE(ReadWholeFile(log).find("Zeredira3 is the self-upgrade helper"), std::string::npos);
    EXPECT_EQ(RunStub("\"" + release.Program() + " +/afterupgrade0"), Code(StubExit::malformed));
    EXPECT_EQ(RunStub("\"" + release.Program() + "\" +/afterupgrade"), Code(StubExit::malformed));
    EXPECT_EQ(RunStub("app.exe +/afterupgrade0"), Code(StubExit::malformed));
    EXPECT_EQ(RunStub(release.PathOf("gone.exe") + " +/afterupgrade0"), Code(StubExit::missingProgram));
    EXPECT_EQ(RunStub("\"" + release.Folder() + "\" +/afterupgrade0"), Code(StubExit::missingProgram));

    EXPECT_EQ(ReadFolder(release.Folder()), before);
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(release.Record()).c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileW(WideFromUtf8(log).c_str());
}

std::string InfoFileOf(const HttpTestServer& server, const std::vector<std::string>& names)
{
    const char* keys[] = {"url", "url0", "url3", "url4", "url5"};
    std::string text = "#version=2.0\r\n";
    for (size_t i = 0; i < names.size(); ++i)
        text += std::string("#") + keys[i] + "=" + server.Url("/" + names[i]) + "\r\n";
    return text;
}

TEST(EngineUpgrade, TheProductDownloadsHandsOverToTheStubAndRestarts)
{
    HttpTestServer server;
    const ReleaseFolder release("Engine App");
    release.Add("lib.dll", "old library");
    release.Add("keep.txt", "not in the release");
    const std::string big = PatternBytes(3 * 1024 * 1024 + 17);
    server.PutFile("app.exe", release.NewProduct());
    server.PutFile("lib.dll", "new library, longer than the old one");
    server.PutFile("big.bin", big);
    server.PutFile("info.txt", InfoFileOf(server, {"app.exe", "lib.dll", "big.bin"}));
    const std::string events = release.Record() + ".events";
    const EnvVarScope eventFile("KD_STUB_EVENTS", events);

    EXPECT_EQ(RunProductUpgrade(release, server.Url("/info.txt")), 0u) << ReadWholeFile(events);
    const std::vector<std::string> records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    ExpectStart(ParseRecord(records[1]), release.Program(), "/afterupgrade", release.NewProduct().size());
    EXPECT_EQ(ReadFolder(release.Folder()), (FolderState{{"app.exe", {release.NewProduct(), 0}},
                                                          {"lib.dll", {"new library, longer than the old one", 0}},
                                                          {"big.bin", {big, 0}},
                                                          {"keep.txt", {"not in the release", 0}}}));
    EXPECT_EQ(ReadWholeFile(events), "FileDone " + release.PathOf("app.exe.uTMP") + "\r\nFileDone " +
                                         release.PathOf("lib.dll.uTMP") + "\r\nFileDone " +
                                         release.PathOf("big.bin.uTMP") + "\r\nEndUpgrade\r\nclosed\r\n");
    DeleteFileW(WideFromUtf8(events).c_str());
}

TEST(EngineUpgrade, AStubThatCannotBeWrittenAbortsAndKeepsTheOldRelease)
{
    HttpTestServer server;
    const ReleaseFolder release("Blocked App");
    release.Add("lib.dll", "old library");
    server.PutFile("app.exe", release.NewProduct());
    server.PutFile("lib.dll", "new library");
    server.PutFile("info.txt", InfoFileOf(server, {"app.exe", "lib.dll"}));
    const std::string events = release.Record() + ".events";
    const EnvVarScope eventFile("KD_STUB_EVENTS", events);
    // A temporary folder that does not exist: no private folder can be made there.
    const EnvVarScope tmp("TMP", release.PathOf("no such folder"));
    const EnvVarScope temp("TEMP", release.PathOf("no such folder"));

    const DWORD code = RunProductUpgrade(release, server.Url("/info.txt"));
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(ReadWholeFile(events), "FileDone " + release.PathOf("app.exe.uTMP") + "\r\nFileDone " +
                                         release.PathOf("lib.dll.uTMP") + "\r\nEndUpgrade\r\nAborted\r\nfailed\r\n");
    EXPECT_EQ(ReadFolder(release.Folder()),
              (FolderState{{"app.exe", {release.OldProduct(), 0}}, {"lib.dll", {"old library", 0}}}))
        << "no pending file is left for a later stub to install";
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u) << "only the product's own start";
    DeleteFileW(WideFromUtf8(events).c_str());
}

}  // namespace
