// The stub as a real process on real files: it waits for the running product,
// replaces the release, restarts the product, and on any failure leaves the
// whole old release in place.
#include "StubTestSupport.h"

#include "update/auAutoUpgrader.h"
#include "update/stub/StubRules.h"
#include "winutil/UniqueHandle.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
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
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::done));
    }
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release));
    const std::vector<std::string> records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    ExpectStart(ParseRecord(records[1]), release.Program(), "/afterupgrade", release.NewProduct().size());
}

TEST(StubProgram, QuotedAndOldFormsWithBlanksAndPlusInThePath)
{
    const ReleaseFolder release("a +b\\C++ x");
    release.AddRelease();
    EXPECT_EQ(RunStub("\"" + release.Program() + "\" +/after +more0"), Code(StubExit::done));
    EXPECT_EQ(ReadFolder(release.Folder()), NewReleaseOf(release));
    std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/after +more", release.NewProduct().size());

    release.AddPending("lib.dll.uTMP", "third release");
    EXPECT_EQ(RunStub(release.Program() + " + 0"), Code(StubExit::done));
    EXPECT_EQ(ReadWholeFile(release.PathOf("lib.dll")), "third release");
    records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    ExpectStart(ParseRecord(records[1]), release.Program(), " ", release.NewProduct().size());
}

TEST(StubProgram, AReadOnlyTargetLeavesTheOldReleaseAndRestarts)
{
    const ReleaseFolder release;
    release.AddRelease();
    SetFileAttributesA(release.PathOf("data.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const FolderState before = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::accessDenied));
    EXPECT_EQ(ReadFolder(release.Folder()), before);
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/afterupgrade", release.OldProduct().size());
    SetFileAttributesA(release.PathOf("data.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    // A read-only program file is no reason to wait: the stub gives up at once.
    SetFileAttributesA(release.Program().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::accessDenied));
    SetFileAttributesA(release.Program().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadWholeFile(release.Program()), release.OldProduct());
    EXPECT_EQ(release.WaitForRecords(2).size(), 2u);

    // A pending file cannot take the place of a folder.
    release.Add("plugins\\one.txt", "in a folder");
    release.AddPending("plugins.uTMP", "a file");
    const FolderState withFolder = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::accessDenied));
    EXPECT_EQ(ReadFolder(release.Folder()), withFolder);
    EXPECT_EQ(ReadWholeFile(release.PathOf("plugins\\one.txt")), "in a folder");
    EXPECT_EQ(release.WaitForRecords(3).size(), 3u);
}

TEST(StubProgram, AFailedMovePutsBackEveryFileMovedSoFar)
{
    const ReleaseFolder release;
    release.AddRelease();
    // The last file the stub reaches is held without sharing, so every other
    // file has been moved when its move fails.
    const std::vector<std::string> pending = PendingInListingOrder(release.Folder());
    ASSERT_EQ(pending.size(), 4u);
    std::string last = pending.back().substr(0, pending.back().size() - 5);
    if (last == "new.txt")
        release.Add("new.txt", "an old file after all");
    const FolderState before = ReadFolder(release.Folder());
    {
        UniqueFile held(CreateFileA(release.PathOf(last).c_str(), GENERIC_READ, 0, nullptr,
                                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::rolledBack));
    }
    EXPECT_EQ(ReadFolder(release.Folder()), before);
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/afterupgrade", release.OldProduct().size());
}

TEST(StubProgram, APendingFileRemovedWhileWaitingRollsBack)
{
    const ReleaseFolder release;
    release.AddRelease();
    const std::string removed = release.PathOf(PendingInListingOrder(release.Folder()).back());
    FolderState expected = ReadFolder(release.Folder());
    expected.erase(PendingInListingOrder(release.Folder()).back());
    {
        const HoldingProduct running(release.Program(), /*milliseconds=*/3000, removed);
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::rolledBack));
    }
    EXPECT_EQ(ReadFolder(release.Folder()), expected);
    EXPECT_EQ(release.WaitForRecords(2).size(), 2u);
}

TEST(StubProgram, GivesUpWaitingAfterTheLimitAndTouchesNothing)
{
    const ReleaseFolder release;
    release.AddRelease();
    const FolderState before = ReadFolder(release.Folder());
    const EnvVarScope limit("KDSTUB_WAIT_LIMIT_MS", "300");
    {
        const HoldingProduct running(release.Program(), /*milliseconds=*/6000);
        EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::stillHeld));
    }
    EXPECT_EQ(ReadFolder(release.Folder()), before);
    EXPECT_EQ(release.WaitForRecords(2).size(), 2u);
}

TEST(StubProgram, APendingExecutableStandsForTheProgramOnlyWithoutATargetOfItsOwn)
{
    // The updater runs the engine: a release naming only the product's exe
    // replaces the product, not the updater.
    const ReleaseFolder release;
    release.Add("product.exe", "old product");
    release.AddPending("product.exe.uTMP", "new product");
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::done));
    EXPECT_EQ(ReadWholeFile(release.PathOf("product.exe")), "new product");
    EXPECT_EQ(ReadWholeFile(release.Program()), release.OldProduct());
    ASSERT_EQ(release.WaitForRecords(1).size(), 1u);

    // A renamed program file takes the program's place.
    release.AddPending("app-2.exe.uTMP", release.NewProduct());
    release.AddPending("product.exe.uTMP", "newer product");
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::done));
    EXPECT_EQ(ReadWholeFile(release.Program()), release.NewProduct());
    EXPECT_EQ(ReadWholeFile(release.PathOf("product.exe")), "newer product");
    EXPECT_EQ(GetFileAttributesA(release.PathOf("app-2.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    const std::vector<std::string> records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    ExpectStart(ParseRecord(records[1]), release.Program(), "/afterupgrade", release.NewProduct().size());
}

TEST(StubProgram, WhatIsNoPendingFileStaysAsItIs)
{
    const ReleaseFolder release;
    release.AddPending("..uTMP", "would name the folder itself");
    release.AddPending(".uTMP", "no name before the suffix");
    release.Add("a.txt.uTMP", "pending");
    release.AddPending("a.txt.uTMP.uTMP", "would replace a pending file");
    release.Add("dir.uTMP\\inner.txt", "a folder");
    FolderState expected = ReadFolder(release.Folder());
    expected.erase("a.txt.uTMP");
    expected["a.txt"] = {"pending", 0};
    EXPECT_EQ(RunStub(release.Program() + " +/afterupgrade0"), Code(StubExit::done));
    EXPECT_EQ(ReadFolder(release.Folder()), expected);
    EXPECT_EQ(ReadWholeFile(release.PathOf("dir.uTMP\\inner.txt")), "a folder");
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u);
}

TEST(StubProgram, SetupModeRunsTheSetupProgramThenTheProgram)
{
    const ReleaseFolder release;
    const std::string setup = release.OldProduct() + "-setup-";
    release.AddPending("setup.exe.uTMP", setup);
    release.Add("data.txt", "old data");
    release.AddPending("data.txt.uTMP", "new data");
    EXPECT_EQ(RunStub(release.Program() + " +/verysilent1"), Code(StubExit::done));

    const std::vector<std::string> records = release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    const Start setupStart = ParseRecord(records[0]);
    ExpectStart(setupStart, release.PathOf("setup.exe"), "/verysilent", setup.size());
    EXPECT_TRUE(setupStart.attributes & FILE_ATTRIBUTE_HIDDEN);
    ExpectStart(ParseRecord(records[1]), release.Program(), "/verysilent", release.OldProduct().size());
    EXPECT_EQ(GetFileAttributesA(release.PathOf("setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadWholeFile(release.PathOf("data.txt")), "new data");
}

TEST(StubProgram, SetupModeWithAFailedReplacementRunsNoSetupProgram)
{
    const ReleaseFolder release;
    release.AddPending("setup.exe.uTMP", release.OldProduct() + "-setup-");
    release.Add("data.txt", "old data");
    release.AddPending("data.txt.uTMP", "new data");
    SetFileAttributesA(release.PathOf("data.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const FolderState before = ReadFolder(release.Folder());
    EXPECT_EQ(RunStub(release.Program() + " +/verysilent1"), Code(StubExit::accessDenied));
    EXPECT_EQ(ReadFolder(release.Folder()), before);
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/verysilent", release.OldProduct().size());
    SetFileAttributesA(release.PathOf("data.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(StubProgram, SetupModeWithoutASetupProgramKeepsEveryFile)
{
    // The program's own copy is pending, so no executable is a setup program
    // and nothing is deleted after the run.
    const ReleaseFolder release;
    release.AddPending("app.exe.uTMP", release.NewProduct());
    release.AddPending("tool.exe.uTMP", "tool");
    EXPECT_EQ(RunStub(release.Program() + " +/s1"), Code(StubExit::done));
    EXPECT_EQ(ReadWholeFile(release.Program()), release.NewProduct());
    EXPECT_EQ(ReadWholeFile(release.PathOf("tool.exe")), "tool");
    const std::vector<std::string> records = release.WaitForRecords(1);
    ASSERT_EQ(records.size(), 1u);
    ExpectStart(ParseRecord(records[0]), release.Program(), "/s", release.NewProduct().size());
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
    EXPECT_EQ(GetFileAttributesA(release.Record().c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(log.c_str());
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
    DeleteFileA(events.c_str());
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
    // A folder where the stub goes: the engine can neither remove nor write it.
    DeleteFileA(StubPath().c_str());
    ASSERT_TRUE(CreateDirectoryA(StubPath().c_str(), nullptr));

    const DWORD code = RunProductUpgrade(release, server.Url("/info.txt"));
    RemoveDirectoryA(StubPath().c_str());
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(ReadWholeFile(events), "FileDone " + release.PathOf("app.exe.uTMP") + "\r\nFileDone " +
                                         release.PathOf("lib.dll.uTMP") + "\r\nEndUpgrade\r\nAborted\r\nfailed\r\n");
    EXPECT_EQ(ReadFolder(release.Folder()),
              (FolderState{{"app.exe", {release.OldProduct(), 0}}, {"lib.dll", {"old library", 0}}}))
        << "no pending file is left for a later stub to install";
    EXPECT_EQ(release.WaitForRecords(1).size(), 1u) << "only the product's own start";
    DeleteFileA(events.c_str());
}

}  // namespace
