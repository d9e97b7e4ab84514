#include "StartupTestSupport.h"

#include "common/HostMount.h"
#include "common/ScratchFolder.h"
#include "common/WineSupport.h"

#include "core/Assert.h"
#include "core/StrCon.h"
#include "startup/FolderStartupMgr.h"
#include "startup/StoreMove.h"
#include "winutil/FindFiles.h"
#include "winutil/ErrorText.h"
#include "winutil/ProfileFile.h"
#include "winutil/RegKey.h"
#include "winutil/WholeFile.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

namespace {

constexpr std::uint8_t UserFolder = 9;

class FolderStartupMgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearLocation(UserFolder);
        folder = GetStpDesc(UserFolder).Path;
        store = folder + "\\Keldora";
    }
    void TearDown() override { ClearLocation(UserFolder); }

    std::string In(const std::string& name) const { return folder + "\\" + name; }
    std::string Stored(const std::string& name) const { return store + "\\" + name; }

    std::string folder, store;
};

// Names of the folder as the wide API lists them, for a check independent of
// the code under test.
std::set<std::wstring> WideNames(const std::string& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    const UniqueFind find(FindFirstFileW(WideFromUtf8(folder + "\\*").c_str(), &data));
    if (find) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.insert(data.cFileName);
        } while (FindNextFileW(find.get(), &data));
    }
    return names;
}

} // namespace

TEST_F(FolderStartupMgrTest, TakeOverMovesPlainFilesOnly)
{
    WriteFile(In("a.lnk"), "shortcut a");
    WriteFile(In("b c.lnk"), "shortcut b");
    WriteFile(In("desktop.ini"), "hidden");
    SetFileAttributesW(WideFromUtf8(In("desktop.ini")).c_str(), FILE_ATTRIBUTE_HIDDEN);

    TFolderStartupMgr mgr(UserFolder);
    EXPECT_EQ(mgr.Count(), 0);
    ASSERT_TRUE(mgr.SetupItems());

    EXPECT_TRUE(GetFileAttributesW(WideFromUtf8(store).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(FileExists(In("a.lnk")));
    EXPECT_EQ(ReadFile(Stored("b c.lnk")), "shortcut b");
    EXPECT_TRUE(FileExists(In("desktop.ini")));

    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 2);
    int orders = 0;
    for (int i = 0; i < 2; ++i) {
        const TStartupItem& item = *mgr.Items(i);
        EXPECT_EQ(item.CmdLine.str(), Stored(item.Desc.str()));
        EXPECT_EQ(item.Icon.str(), item.CmdLine.str());
        EXPECT_TRUE(item.Enable);
        EXPECT_EQ(item.DelayTime, 0);
        orders += item.Order;
    }
    EXPECT_EQ(orders, 90 + 91);
}

TEST_F(FolderStartupMgrTest, NewerFileReplacesStoredOneAndKeepsSettings)
{
    WriteFile(In("a.lnk"), "old");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    const ProfileFile ini(mgr.IniFile());
    ini.WriteInteger("a.lnk", "DelayTime", 30);
    // The journal keeps a kept section's values in hexadecimal: values that
    // would make it too long to be read back whole keep the file where it is.
    const std::string edited = "\"C:\\Tools\\app.exe\" " + std::string(40000, 'x');
    ASSERT_TRUE(ini.WriteString("a.lnk", "CmdLine", edited));
    WriteFile(In("a.lnk"), "new");
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(In("a.lnk")), "new");
    EXPECT_EQ(ReadFile(Stored("a.lnk")), "old");
    EXPECT_TRUE(ini.ReadString("a.lnk", "CmdLine") == edited) << "the user's own value, whole";
    EXPECT_FALSE(ini.HasKey("a.lnk", kMovingKey));
    const std::vector<std::string> notes = mgr.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("too long to be kept in the move's journal"), std::string::npos) << notes[0];
    ASSERT_TRUE(ini.WriteString("a.lnk", "CmdLine", Stored("a.lnk")));
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(Stored("a.lnk")), "new");
    EXPECT_FALSE(FileExists(In("a.lnk")));
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 1);
    EXPECT_EQ(mgr.Items(0)->DelayTime, 30);
}

namespace {

// Which file a path names (its volume and index), its attributes and last write.
struct TFileIdentity {
    DWORD volume = 0, high = 0, low = 0, attributes = 0;
    std::uint64_t written = 0;
    bool operator==(const TFileIdentity&) const = default;
};

TFileIdentity IdentityOf(const std::string& path)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!file || !GetFileInformationByHandle(file.get(), &info))
        return {};
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, info.dwFileAttributes,
            (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                info.ftLastWriteTime.dwLowDateTime};
}

void WriteReadOnly(const std::string& path, const std::string& text)
{
    WriteFile(path, text);
    ASSERT_TRUE(SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_READONLY));
}

} // namespace

// The take-over moves the file itself, never a copy: the store holds the
// same file (volume and index) with its read-only mark and its time, and no
// draft; a newer read-only file of the name takes the read-only stored one's
// place in one step, a restore moves that same file back, and deleting its
// item deletes it.
TEST_F(FolderStartupMgrTest, TheFileItselfMovesWithItsReadOnlyMarkNeverACopy)
{
    WriteReadOnly(In("ro.bat"), "@echo read-only\r\n");
    const TFileIdentity original = IdentityOf(In("ro.bat"));
    ASSERT_NE(original.low | original.high, 0u);
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_FALSE(PathExists(In("ro.bat")));
    EXPECT_EQ(IdentityOf(Stored("ro.bat")), original) << "the same file, read-only, its time kept";
    EXPECT_EQ(ReadFile(Stored("ro.bat")), "@echo read-only\r\n");
    const ProfileFile ini(mgr.IniFile());
    EXPECT_EQ(ini.ReadString("ro.bat", "Enable"), "1");
    EXPECT_FALSE(ini.HasKey("ro.bat", kMovingKey));
    EXPECT_EQ(WideNames(store), (std::set<std::wstring>{L"Keldora.ini", L"ro.bat"})) << "no draft";

    WriteReadOnly(In("ro.bat"), "@echo newer\r\n");
    const TFileIdentity newer = IdentityOf(In("ro.bat"));
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_FALSE(PathExists(In("ro.bat")));
    EXPECT_EQ(IdentityOf(Stored("ro.bat")), newer) << "the newer file itself";
    EXPECT_EQ(ReadFile(Stored("ro.bat")), "@echo newer\r\n");
    EXPECT_EQ(WideNames(store), (std::set<std::wstring>{L"Keldora.ini", L"ro.bat"}));

    EXPECT_TRUE(mgr.RestoreItems());
    EXPECT_EQ(IdentityOf(In("ro.bat")), newer) << "back the same way";
    EXPECT_FALSE(PathExists(Stored("ro.bat")));

    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 1);
    {
        const UniqueFile reader(CreateFileW(WideFromUtf8(Stored("ro.bat")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_FALSE(mgr.DeleteItem(0)) << "held by another program";
    }
    EXPECT_TRUE(GetFileAttributesW(WideFromUtf8(Stored("ro.bat")).c_str()) & FILE_ATTRIBUTE_READONLY)
        << "a delete that failed leaves the mark";
    EXPECT_TRUE(mgr.DeleteItem(0)) << "a read-only file's item is deleted too";
    EXPECT_FALSE(PathExists(Stored("ro.bat")));
}

bool AnyNoteHas(const std::vector<std::string>& notes, const std::string& text)
{
    return std::any_of(notes.begin(), notes.end(),
                       [&](const std::string& note) { return note.find(text) != std::string::npos; });
}

// A newer file of a name taken over before, while the store's copy is held
// by another program: the newer one stays in the folder, nothing waits in a
// draft; a read-only store copy is replaced. A file put in the folder after
// the take-over is never replaced by a restore: the stored one stays, with
// its section. A move left open keeps the index and its draft through a
// restore and the next take-over.
TEST_F(FolderStartupMgrTest, TheNewestCopyIsNeverLostAndARestoreReplacesNothing)
{
    WriteFile(In("kept.lnk"), "old");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    const ProfileFile ini(mgr.IniFile());
    WriteFile(In("kept.lnk"), "newer");
    {
        const UniqueFile held(CreateFileW(WideFromUtf8(Stored("kept.lnk")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        mgr.SetupItems();
    }
    EXPECT_EQ(ReadFile(In("kept.lnk")), "newer") << "stays where it is";
    EXPECT_EQ(ReadFile(Stored("kept.lnk")), "old");
    EXPECT_FALSE(ini.HasKey("kept.lnk", "Moving"));
    EXPECT_EQ(WideNames(store), (std::set<std::wstring>{L"Keldora.ini", L"kept.lnk"})) << "no draft waits";
    EXPECT_TRUE(AnyNoteHas(mgr.TakeNotes(), "older copy cannot be replaced"));

    // A replace refused after its journal (the read-only older copy has
    // another name, so it is not put aside) leaves the older copy its mark
    // and gives the section every value back: the user's edited line, delay
    // and order, a value it lacked and the switch a new Task Manager choice
    // would have turned off.
    ASSERT_TRUE(SetFileAttributesW(WideFromUtf8(Stored("kept.lnk")).c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(ini.WriteString("kept.lnk", "CmdLine", "\"C:\\Tools\\kept.exe\" /edited"));
    ASSERT_TRUE(ini.WriteInteger("kept.lnk", "DelayTime", 45));
    ASSERT_TRUE(ini.WriteInteger("kept.lnk", "Order", 7));
    ASSERT_TRUE(ini.WriteString("kept.lnk", "Icon", " \"quoted\" and blank "));
    ASSERT_TRUE(WritePrivateProfileStringW(L"kept.lnk", L"TakenOver", nullptr, WideFromUtf8(mgr.IniFile()).c_str()));
    const RegKey approved = OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder");
    ASSERT_EQ(approved.WriteBinary("kept.lnk", std::string("\x03") + std::string(11, '\0')), ERROR_SUCCESS);
    const auto section = [&] {
        std::vector<std::string> values;
        for (const char* key : {"Desc", "CmdLine", "Icon", "DelayTime", "Enable", "Order", "TakenOver", "Approved",
                                "Moving"})
            values.push_back(ini.HasKey("kept.lnk", key) ? ini.ReadString("kept.lnk", key) : "(none)");
        return values;
    };
    const std::vector<std::string> before = section();
    const ScratchFolder scratch("older-twin");
    const std::string twin = scratch.PathOf("twin.lnk");
    ASSERT_TRUE(CreateHardLinkW(WideFromUtf8(twin).c_str(), WideFromUtf8(Stored("kept.lnk")).c_str(), nullptr));
    mgr.SetupItems();
    EXPECT_TRUE(AnyNoteHas(mgr.TakeNotes(), "has other names"));
    EXPECT_EQ(ReadFile(In("kept.lnk")), "newer") << "stays where it is";
    EXPECT_EQ(ReadFile(Stored("kept.lnk")), "old");
    EXPECT_TRUE(GetFileAttributesW(WideFromUtf8(Stored("kept.lnk")).c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(section(), before);
    ASSERT_TRUE(SetFileAttributesW(WideFromUtf8(twin).c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(DeleteFileW(WideFromUtf8(twin).c_str()));
    ASSERT_EQ(RegDeleteValueW(approved.get(), L"kept.lnk"), ERROR_SUCCESS);
    EXPECT_EQ(WideNames(store), (std::set<std::wstring>{L"Keldora.ini", L"kept.lnk"})) << "no draft waits";

    ASSERT_TRUE(SetFileAttributesW(WideFromUtf8(Stored("kept.lnk")).c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(Stored("kept.lnk")), "newer") << "a read-only copy is replaced";
    EXPECT_FALSE(FileExists(In("kept.lnk")));
    EXPECT_EQ(WideNames(store), (std::set<std::wstring>{L"Keldora.ini", L"kept.lnk"}));

    WriteFile(In("kept.lnk"), "the user's since");
    EXPECT_FALSE(mgr.RestoreItems());
    EXPECT_EQ(ReadFile(In("kept.lnk")), "the user's since") << "not replaced";
    EXPECT_EQ(ReadFile(Stored("kept.lnk")), "newer");
    EXPECT_TRUE(ini.HasSection("kept.lnk"));
    EXPECT_TRUE(AnyNoteHas(mgr.TakeNotes(), "was put there since"));
    ASSERT_TRUE(DeleteFileW(WideFromUtf8(In("kept.lnk")).c_str()));

    // A move whose draft is torn stays open: neither its index nor its draft goes.
    ASSERT_TRUE(ini.WriteSection("open.lnk", {{"Desc", "open.lnk"}, {"Moving", "new 9 4"}}));
    WriteFile(Stored("Keldora.4.move"), "torn");
    EXPECT_FALSE(mgr.RestoreItems());
    EXPECT_EQ(ReadFile(In("kept.lnk")), "newer") << "a file no open move names goes back";
    EXPECT_EQ(ReadFile(Stored("Keldora.4.move")), "torn");
    EXPECT_EQ(ini.ReadString("open.lnk", "Moving"), "new 9 4");
    EXPECT_FALSE(ini.HasSection("kept.lnk"));
    WriteFile(In("next.lnk"), "next");
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(Stored("Keldora.4.move")), "torn") << "not swept";
    EXPECT_EQ(ReadFile(Stored("next.lnk")), "next");
}

// A newer file whose last check refuses it after its rename into the store
// (a hard link planted in the gap after the journal, in a take-over of
// another process halted there): the newer file goes back, and the store's
// older copy it was to replace is there again, read-only as it was, its
// section's values with it and nothing waiting aside.
TEST_F(FolderStartupMgrTest, AReplaceRefusedAfterItsRenameGivesTheOlderCopyBack)
{
    WriteReadOnly(In("kept.lnk"), "old");
    ASSERT_TRUE(TFolderStartupMgr(UserFolder).SetupItems());
    const ProfileFile ini(Stored("Keldora.ini"));
    ASSERT_TRUE(ini.WriteInteger("kept.lnk", "DelayTime", 45));
    WriteFile(In("kept.lnk"), "newer");
    const std::string id = std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle halted(CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8("KeldoraGapHalt" + id).c_str()));
    const UniqueKernelHandle resume(CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8("KeldoraGapGo" + id).c_str()));
    const EnvVarScope haltEvent("KDAGENT_HALT_EVENT", "KeldoraGapHalt" + id);
    const EnvVarScope resumeEvent("KDAGENT_RESUME_EVENT", "KeldoraGapGo" + id);
    const EnvVarScope halt("KDAGENT_HALT_AT_STEP", "1");
    const ScratchFolder scratch("gap-link");
    const std::string twin = scratch.PathOf("twin.lnk");
    const UniqueKernelHandle setup = StartProcess("probe_system.exe setup 9");
    ASSERT_TRUE(setup);
    const HANDLE ends[] = {setup.get(), halted.get()};
    ASSERT_EQ(WaitForMultipleObjects(2, ends, FALSE, 60000), WAIT_OBJECT_0 + 1) << "halted after the journal";
    EXPECT_TRUE(CreateHardLinkW(WideFromUtf8(twin).c_str(), WideFromUtf8(In("kept.lnk")).c_str(), nullptr))
        << GetLastError();
    SetEvent(resume.get());
    EXPECT_EQ(WaitForExit(setup.get(), 60000), 0u);
    ASSERT_TRUE(DeleteFileW(WideFromUtf8(twin).c_str()));
    EXPECT_EQ(ReadFile(In("kept.lnk")), "newer") << "refused, back where it was";
    EXPECT_EQ(ReadFile(Stored("kept.lnk")), "old") << "the older copy is not lost";
    EXPECT_TRUE(GetFileAttributesW(WideFromUtf8(Stored("kept.lnk")).c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ini.ReadInteger("kept.lnk", "DelayTime", 0), 45);
    EXPECT_FALSE(ini.HasKey("kept.lnk", kMovingKey));
    EXPECT_EQ(WideNames(store), (std::set<std::wstring>{L"Keldora.ini", L"kept.lnk"})) << "nothing waits aside";
}

// Journal keys and draft names another program wrote with numbers out of
// range: refused and noted, no number wraps round, the drafts they may name
// stay, and the take-over goes on with a draft number in range.
TEST_F(FolderStartupMgrTest, CraftedDraftNumbersAreRefusedAndLoseNothing)
{
    TFolderStartupMgr mgr(UserFolder);
    EXPECT_FALSE(mgr.SetupItems());
    WriteFile(Stored("Keldora.99999999999.move"), "crafted name");
    EXPECT_EQ(FirstFreeDraft(store), 1);
    const ProfileFile ini(mgr.IniFile());
    for (const char* journal : {"new 5 99999999999", "new 5 2147483647", "kept 99999999999999999999 1",
                                "new -5 1", "new 5 1x", "new 5 0", "new 5 1 more"})
        ASSERT_TRUE(ini.WriteSection(std::string("crafted ") + journal, {{"Moving", journal}}));
    WriteFile(In("next.lnk"), "next");
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(Stored("next.lnk")), "next");
    EXPECT_FALSE(ini.HasKey("next.lnk", "Moving"));
    EXPECT_EQ(ReadFile(Stored("Keldora.99999999999.move")), "crafted name") << "a crafted journal may name it";
    const std::vector<std::string> notes = mgr.TakeNotes();
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                            [](const std::string& note) { return note.find("names no file") != std::string::npos; }),
              7);
    EXPECT_EQ(ini.ReadString("crafted new 5 99999999999", "Moving"), "new 5 99999999999") << "left alone";
    WriteFile(Stored("Keldora.1000000.move"), "the last number");
    EXPECT_EQ(FirstFreeDraft(store), 1000001);
    WriteFile(In("past.lnk"), "past the last number");
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(In("past.lnk")), "past the last number") << "no draft number left: it stays";
    EXPECT_TRUE(AnyNoteHas(mgr.TakeNotes(), "no draft number left"));
    EXPECT_EQ(ReadFile(Stored("Keldora.1000000.move")), "the last number");
}

TEST_F(FolderStartupMgrTest, EmptyFolderStillGetsTheStore)
{
    TFolderStartupMgr mgr(UserFolder);
    EXPECT_FALSE(mgr.SetupItems());
    EXPECT_TRUE(DirectoryExists(store));
    EXPECT_EQ(mgr.Count(), 0);
    EXPECT_FALSE(mgr.RestoreItems());  // an empty store stays
    EXPECT_TRUE(DirectoryExists(store));
}

TEST_F(FolderStartupMgrTest, RestorePutsEverythingBackOnce)
{
    WriteFile(In("a.lnk"), "a");
    WriteFile(In("b.txt"), "b");
    // A date of its own, kept by the take-over's copy and the restore's rename.
    const FILETIME old = {0x2a69c000, 0x01c8f2f1};  // 2008
    auto lastWrite = [](const std::string& path) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data);
        return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
               data.ftLastWriteTime.dwLowDateTime;
    };
    {
        const UniqueFile file(CreateFileW(WideFromUtf8(In("a.lnk")).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(file.get(), &old, &old, &old));
    }
    const std::uint64_t dated = lastWrite(In("a.lnk"));
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(lastWrite(Stored("a.lnk")), dated);
    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_EQ(ReadFile(In("a.lnk")), "a");
    EXPECT_EQ(ReadFile(In("b.txt")), "b");
    EXPECT_EQ(lastWrite(In("a.lnk")), dated);
    EXPECT_FALSE(DirectoryExists(store));
    EXPECT_FALSE(mgr.RestoreItems());
}

TEST_F(FolderStartupMgrTest, NoEntryIsEverInNeitherPlace)
{
    WriteFile(In("locked.lnk"), "locked");
    WriteFile(In("free.lnk"), "free");
    {
        UniqueFile lock(
            CreateFileW(WideFromUtf8(In("locked.lnk")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        TFolderStartupMgr mgr(UserFolder);
        ASSERT_TRUE(mgr.SetupItems());
    }
    EXPECT_EQ(ReadFile(In("locked.lnk")), "locked");
    EXPECT_TRUE(FileExists(Stored("free.lnk")));

    // The INI file cannot be written: the copy may exist, the original must stay.
    ClearLocation(UserFolder);
    WriteFile(In("kept.lnk"), "kept");
    ASSERT_TRUE(ForceDirectories(Stored("Keldora.ini")));
    TFolderStartupMgr blocked(UserFolder);
    blocked.SetupItems();
    EXPECT_EQ(ReadFile(In("kept.lnk")), "kept");

    // A file that cannot go back keeps its entry and the INI file.
    ClearLocation(UserFolder);
    WriteFile(In("a.lnk"), "a");
    WriteFile(In("b.lnk"), "b");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    WriteFile(In("b.lnk"), "user's new b");
    {
        UniqueFile lock(
            CreateFileW(WideFromUtf8(In("b.lnk")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(mgr.RestoreItems());
    }
    EXPECT_EQ(ReadFile(In("a.lnk")), "a");
    EXPECT_EQ(ReadFile(Stored("b.lnk")), "b");
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 1);
    EXPECT_EQ(mgr.Items(0)->Desc.str(), "b.lnk");
}

TEST_F(FolderStartupMgrTest, DeleteTouchesOnlyOurOwnCopy)
{
    WriteFile(In("a.lnk"), "a");
    WriteFile(In("b.lnk"), "b");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 2);

    const std::string userProgram = folder + "\\..\\real.exe";
    WriteFile(userProgram, "program");
    mgr.Items(1)->CmdLine = userProgram;
    EXPECT_TRUE(mgr.DeleteItem(1));
    EXPECT_EQ(ReadFile(userProgram), "program");
    DeleteFileW(WideFromUtf8(userProgram).c_str());

    const std::string own = mgr.Items(0)->CmdLine.str();
    EXPECT_TRUE(mgr.DeleteItem(0));
    EXPECT_FALSE(FileExists(own));
    EXPECT_TRUE(mgr.DeleteItem(0));  // already gone by hand: the section goes
    mgr.Reload();
    EXPECT_EQ(mgr.Count(), 0);
    EXPECT_THROW(mgr.DeleteItem(0), EAssertionFailed);
}

TEST_F(FolderStartupMgrTest, StoreFolderThatIsAFile)
{
    WriteFile(store, "not a folder");
    WriteFile(In("a.lnk"), "a");
    TFolderStartupMgr mgr(UserFolder);
    try {
        mgr.SetupItems();
        FAIL();
    } catch (const EStartupMgrErr& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to setup startup items from dir:\"" + folder +
                                             "\".\r\nErr Description:\"Can't create directory:" + store + "\\\"");
    }
    try {
        mgr.SaveItems();
        FAIL();
    } catch (const EStartupMgrErr& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to update items from folder: \"" + folder +
                                             "\", Error type:Exception, Error message:\"Can't create directory:" +
                                             store + "\\\"");
    }
    EXPECT_EQ(ReadFile(In("a.lnk")), "a");
    TStartupItem item;
    item.Desc = "x";
    EXPECT_THROW(mgr.AddItem(item), EAbstractError);
}

TEST_F(FolderStartupMgrTest, SaveAndLoadKeepQuotesAndBlanks)
{
    WriteFile(In("a.lnk"), "a");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 1);
    mgr.Items(0)->CmdLine = "\"C:\\Program Files\\x.exe\"";
    mgr.Items(0)->Icon = " padded ";
    mgr.Items(0)->Order = -3;
    ASSERT_TRUE(mgr.SaveItems());
    mgr.Reload();
    EXPECT_EQ(mgr.Items(0)->CmdLine.str(), "\"C:\\Program Files\\x.exe\"");
    EXPECT_EQ(mgr.Items(0)->Icon.str(), " padded ");
    EXPECT_EQ(mgr.Items(0)->Order, -3);
    ProfileFile(mgr.IniFile()).WriteString("a.lnk", "DelayTime", "12abc");
    mgr.Reload();
    EXPECT_EQ(mgr.Items(0)->DelayTime, 0);
}

TEST_F(FolderStartupMgrTest, FilesNamedLikeTheStoreStayWhereTheUserPutThem)
{
    WriteFile(In("a.lnk"), "a");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    for (const char* name : {"KELDORA.INI", "keldora.ini", "Keldora.ini"}) {
        SCOPED_TRACE(name);
        WriteFile(In(name), "[user's own]\r\nkey=1\r\n");
        WriteFile(In("b.lnk"), "b");
        ASSERT_TRUE(mgr.SetupItems());
        EXPECT_EQ(ReadFile(In(name)), "[user's own]\r\nkey=1\r\n");
        EXPECT_FALSE(FileExists(In("b.lnk")));
        mgr.Reload();
        ASSERT_EQ(mgr.Count(), 2) << "the index keeps every entry";
        DeleteFileW(WideFromUtf8(In(name)).c_str());
    }
}

TEST_F(FolderStartupMgrTest, LockedIndexIsReportedAndLosesNothing)
{
    WriteFile(In("a.lnk"), "a");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 1);
    const std::string index = mgr.IniFile();
    const std::string indexText = ReadFile(index);
    const std::string cause = ErrorMessage("Opening " + index, ERROR_SHARING_VIOLATION);
    const struct {
        const char* operation;
        std::function<void()> run;
        std::string message;
    } cases[] = {
        {"LoadItems", [&] { mgr.Reload(); },
         "Unable to read startup programs info.\r\n Error Description:\"" + cause + "\""},
        {"RestoreItems", [&] { mgr.RestoreItems(); },
         "Unable to remove startup itemsfrom dir:\"" + folder + "\".\r\nErr Description:\"" + cause + "\""},
        {"DeleteItem", [&] { mgr.DeleteItem(0); },
         "Unable to delete startup itemsfrom dir:\"" + folder + "\".\r\nErr Description:\"" + cause + "\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        mgr.Reload();
        UniqueFile lock(CreateFileW(WideFromUtf8(index).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        try {
            c.run();
            ADD_FAILURE() << "no error";
        } catch (const EStartupMgrErr& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_EQ(ReadFile(index), indexText);
    EXPECT_EQ(ReadFile(Stored("a.lnk")), "a");
}

TEST_F(FolderStartupMgrTest, FilesNamedInAnyScriptComeBackAsThemselves)
{
    const std::string german = "\xc3\x9c" "bersicht.lnk";
    const std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac" "Tool.lnk";
    const std::string russian = "\xd0\x97\xd0\xb0\xd0\xbc\xd0\xb5\xd1\x82\xd0\xba\xd0\xb8.txt";
    WriteFile(In(german), "de");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    const std::string ini = mgr.IniFile();
    EXPECT_EQ(ProfileEncodingOf(ReadFile(ini)), ProfileEncoding::Ansi) << "German fits the ANSI code page";
    EXPECT_NE(ReadFile(ini).find("[\xDC" "bersicht.lnk]"), std::string::npos);

    WriteFile(In(japanese), "ja");
    WriteFile(In(russian), "ru");
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ProfileEncodingOf(ReadFile(ini)), ProfileEncoding::Utf16);
    EXPECT_TRUE(WideNames(folder).empty());
    mgr.Reload();
    std::set<std::string> descs;
    for (int i = 0; i < mgr.Count(); ++i) {
        descs.insert(mgr.Items(i)->Desc.str());
        EXPECT_EQ(mgr.Items(i)->CmdLine.str(), Stored(mgr.Items(i)->Desc.str()));
        EXPECT_TRUE(FileExists(mgr.Items(i)->CmdLine.str()));
    }
    EXPECT_EQ(descs, (std::set<std::string>{german, japanese, russian}));

    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_EQ(WideNames(folder), (std::set<std::wstring>{L"\xDC" L"bersicht.lnk", L"\x65E5\x672C" L"Tool.lnk",
                                                          L"\x417\x430\x43C\x435\x442\x43A\x438.txt"}))
        << "each back under its own name, no second copy";
    EXPECT_EQ(ReadFile(In(japanese)), "ja");
    EXPECT_FALSE(DirectoryExists(store));
}

// Links as the store folder, as its index and in the folder a restore writes
// to: every operation refuses with the reason, and nothing is written,
// moved or deleted through them.
TEST_F(FolderStartupMgrTest, LinksAreNeitherWrittenNorDeletedThrough)
{
    const std::string target = folder + "\\..\\kd-link-target";
    const auto clearTarget = [&] {
        for (const char* name : {"victim.dll", "Keldora.ini"})
            DeleteFileW(WideFromUtf8(target + "\\" + name).c_str());
    };
    clearTarget();
    ASSERT_TRUE(ForceDirectories(target));
    WriteFile(target + "\\victim.dll", "the system's own");
    WriteFile(In("a.lnk"), "a");
    {
        const HostLink link(store, target);
        TFolderStartupMgr mgr(UserFolder);
        for (const auto& [operation, run] : std::initializer_list<std::pair<const char*, std::function<void()>>>{
                 {"SetupItems", [&] { mgr.SetupItems(); }},
                 {"SaveItems", [&] { mgr.SaveItems(); }},
                 {"RestoreItems", [&] { mgr.RestoreItems(); }}}) {
            SCOPED_TRACE(operation);
            try {
                run();
                ADD_FAILURE() << "no error";
            } catch (const EStartupMgrErr& e) {
                EXPECT_NE(std::string(e.what()).find("\"" + store + "\" is a link"), std::string::npos) << e.what();
            }
        }
    }
    EXPECT_EQ(ReadFile(In("a.lnk")), "a");

    // The index a link: refused as it is read and written.
    ASSERT_TRUE(ForceDirectories(store));
    WriteFile(target + "\\Keldora.ini", "[victim]\r\nCmdLine=C:\\victim.exe\r\n");
    {
        const HostLink index(Stored("Keldora.ini"), target + "\\Keldora.ini");
        try {
            TFolderStartupMgr mgr(UserFolder);
            ADD_FAILURE() << "read through the link";
        } catch (const EStartupMgrErr& e) {
            EXPECT_NE(std::string(e.what()).find("Keldora.ini\" is a link"), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadFile(In("a.lnk")), "a");
    }
    EXPECT_EQ(ReadFile(target + "\\Keldora.ini"), "[victim]\r\nCmdLine=C:\\victim.exe\r\n");

    // A restore whose file in the Startup folder became a link keeps it in the store.
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    ASSERT_TRUE(FileExists(Stored("a.lnk")));
    {
        const HostLink planted(In("a.lnk"), target + "\\victim.dll");
        EXPECT_FALSE(mgr.RestoreItems());
        const std::vector<std::string> notes = mgr.TakeNotes();
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_NE(notes[0].find("is a link"), std::string::npos) << notes[0];
    }
    EXPECT_EQ(ReadFile(target + "\\victim.dll"), "the system's own");
    EXPECT_EQ(ReadFile(Stored("a.lnk")), "a");
    EXPECT_TRUE(ProfileFile(mgr.IniFile()).HasSection("a.lnk"));

    // A Startup file that is another name of a file elsewhere stays where it is.
    ASSERT_TRUE(CreateHardLinkW(WideFromUtf8(In("twice.lnk")).c_str(), WideFromUtf8(target + "\\victim.dll").c_str(),
                                nullptr));
    mgr.SetupItems();
    const std::vector<std::string> notes = mgr.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("has other names"), std::string::npos) << notes[0];
    EXPECT_FALSE(FileExists(Stored("twice.lnk")));
    EXPECT_EQ(ReadFile(In("twice.lnk")), "the system's own");
    DeleteFileW(WideFromUtf8(In("twice.lnk")).c_str());

    // A folder of the store under a Startup file's name is never put aside.
    WriteFile(In("boxed.lnk"), "boxed");
    ASSERT_TRUE(CreateDirectoryW(WideFromUtf8(Stored("boxed.lnk")).c_str(), nullptr));
    WriteFile(Stored("boxed.lnk\\inside.txt"), "inside");
    const std::set<std::wstring> storeBefore = WideNames(store);
    mgr.SetupItems();
    const std::vector<std::string> folderNotes = mgr.TakeNotes();
    ASSERT_EQ(folderNotes.size(), 1u);
    EXPECT_NE(folderNotes[0].find("is a folder"), std::string::npos) << folderNotes[0];
    EXPECT_EQ(ReadFile(In("boxed.lnk")), "boxed") << "stays where it is";
    EXPECT_EQ(ReadFile(Stored("boxed.lnk\\inside.txt")), "inside");
    EXPECT_EQ(WideNames(store), storeBefore) << "no draft waits";
    EXPECT_FALSE(ProfileFile(mgr.IniFile()).HasSection("boxed.lnk"));
    DeleteFileW(WideFromUtf8(Stored("boxed.lnk\\inside.txt")).c_str());
    RemoveDirectoryW(WideFromUtf8(Stored("boxed.lnk")).c_str());
    DeleteFileW(WideFromUtf8(In("boxed.lnk")).c_str());
    clearTarget();
    RemoveDirectoryW(WideFromUtf8(target).c_str());
}

// Moves that a crash cut short, as the journal leaves them: one whose
// original is still in the folder is undone (the draft goes, the new section
// too), one whose original is gone is finished (the draft becomes the file,
// the kept section its settings). Startup files named like the store's
// drafts stay where the user put them.
TEST_F(FolderStartupMgrTest, MovesCutShortAreSettledAndDraftNamesStay)
{
    WriteFile(In("kept.lnk"), "old kept");
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    const ProfileFile ini(mgr.IniFile());
    ASSERT_TRUE(ini.WriteInteger("kept.lnk", "DelayTime", 40));

    // Cut after the draft of a newer kept.lnk was written and its original deleted.
    ASSERT_TRUE(ini.WriteString("kept.lnk", "Moving", "kept"));
    WriteFile(Stored("Keldora.move"), "new kept");
    EXPECT_FALSE(mgr.SetupItems()) << "nothing new in the folder, and the move settled first";
    EXPECT_EQ(ReadFile(Stored("kept.lnk")), "new kept") << "finished";
    EXPECT_FALSE(FileExists(Stored("Keldora.move")));
    EXPECT_FALSE(ini.HasKey("kept.lnk", "Moving"));
    EXPECT_EQ(ini.ReadInteger("kept.lnk", "DelayTime", 0), 40);

    // Cut after a newer kept.lnk went in, its older copy still aside, and a
    // file of the name put into the folder since: the move is finished
    // without a note, then that file replaces it.
    ASSERT_TRUE(ini.WriteString("kept.lnk", "Moving", "kept 9 4 aside"));
    ASSERT_TRUE(MoveFileW(WideFromUtf8(Stored("kept.lnk")).c_str(), WideFromUtf8(Stored("Keldora.4.move")).c_str()));
    WriteFile(Stored("kept.lnk"), "newer one");
    WriteFile(In("kept.lnk"), "dropped");
    mgr.TakeNotes();
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(mgr.TakeNotes(), std::vector<std::string>());
    EXPECT_EQ(ReadFile(Stored("kept.lnk")), "dropped");
    EXPECT_FALSE(FileExists(In("kept.lnk")));
    EXPECT_FALSE(FileExists(Stored("Keldora.4.move"))) << "the older copy goes at once";
    EXPECT_FALSE(ini.HasKey("kept.lnk", "Moving"));
    EXPECT_EQ(ini.ReadInteger("kept.lnk", "DelayTime", 0), 40);

    // Cut before the original of a new file went: undone, then taken over whole.
    WriteFile(In("fresh.lnk"), "fresh");
    ASSERT_TRUE(ini.WriteSection("fresh.lnk", {{"Desc", "fresh.lnk"}, {"Moving", "new"}}));
    WriteFile(Stored("Keldora.move"), "fre");
    for (const char* name : {"Keldora.move", "Keldora.new"})
        WriteFile(In(name), "the user's own");
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(Stored("fresh.lnk")), "fresh");
    EXPECT_FALSE(FileExists(In("fresh.lnk")));
    EXPECT_FALSE(ini.HasKey("fresh.lnk", "Moving"));
    EXPECT_FALSE(FileExists(Stored("Keldora.move")));
    EXPECT_FALSE(FileExists(Stored("Keldora.new")));
    for (const char* name : {"Keldora.move", "Keldora.new"})
        EXPECT_EQ(ReadFile(In(name)), "the user's own") << name;
    mgr.Reload();
    EXPECT_EQ(mgr.Count(), 2);

    // A section written by another program, naming a file beside the store:
    // the draft is renamed nowhere.
    ASSERT_TRUE(ini.WriteSection("..\\outside.lnk", {{"Desc", "outside.lnk"}, {"Moving", "new"}}));
    WriteFile(Stored("Keldora.move"), "planted");
    mgr.SetupItems();
    EXPECT_FALSE(FileExists(In("outside.lnk")));
    EXPECT_TRUE(ini.HasKey("..\\outside.lnk", "Moving")) << "left alone";
}

// Two moves cut short, each with a draft of its own, one of them torn, and
// leftover drafts: the whole one is finished, the torn one is left alone
// (nothing deleted, noted), the leftovers go, and a new move takes a draft
// number no open move uses.
TEST_F(FolderStartupMgrTest, EachMoveHasItsDraftAndOnlyAWholeCopyIsKept)
{
    TFolderStartupMgr mgr(UserFolder);
    EXPECT_FALSE(mgr.SetupItems());
    const ProfileFile ini(mgr.IniFile());
    ASSERT_TRUE(ini.WriteSection("whole.lnk", {{"Desc", "whole.lnk"}, {"Moving", "new 5 1"}}));
    WriteFile(Stored("Keldora.1.move"), "whole");
    ASSERT_TRUE(ini.WriteSection("torn.lnk", {{"Desc", "torn.lnk"}, {"Moving", "new 9 2"}}));
    WriteFile(Stored("Keldora.2.move"), "torn");
    ASSERT_TRUE(ini.WriteSection("undone.lnk", {{"Desc", "undone.lnk"}, {"Moving", "new 6 3"}}));
    WriteFile(Stored("Keldora.3.move"), "undo");
    WriteFile(In("undone.lnk"), "undone");
    WriteFile(Stored("Keldora.7.move"), "leftover");
    WriteFile(Stored("Keldora.move"), "older leftover");
    WriteFile(In("Keldora.4.move"), "the user's own");
    WriteFile(In("next.lnk"), "next");
    ASSERT_TRUE(mgr.SetupItems());

    EXPECT_EQ(ReadFile(Stored("whole.lnk")), "whole");
    EXPECT_FALSE(ini.HasKey("whole.lnk", "Moving"));
    EXPECT_EQ(ReadFile(Stored("Keldora.2.move")), "torn") << "a torn draft is never renamed nor deleted";
    EXPECT_FALSE(FileExists(Stored("torn.lnk")));
    EXPECT_EQ(ini.ReadString("torn.lnk", "Moving"), "new 9 2");
    const std::vector<std::string> notes = mgr.TakeNotes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(),
                            [](const std::string& note) { return note.find("is not whole") != std::string::npos; }));
    EXPECT_EQ(ReadFile(Stored("undone.lnk")), "undone") << "undone, then moved whole";
    EXPECT_FALSE(FileExists(In("undone.lnk")));
    EXPECT_EQ(ReadFile(In("Keldora.4.move")), "the user's own") << "named like a draft: not taken over";
    EXPECT_EQ(ReadFile(Stored("next.lnk")), "next");
    EXPECT_EQ(WideNames(store), (std::set<std::wstring>{L"Keldora.ini", L"Keldora.2.move", L"whole.lnk",
                                                         L"undone.lnk", L"next.lnk"}))
        << "leftover drafts gone";
    EXPECT_EQ(FirstFreeDraft(store), 3) << "past the open move's draft";
}

// The Startup folder on forgetfs: a restore of two files in another process
// stops for good after each of its steps, the power goes, and each file is
// then in exactly one place, whole; a second restore puts the rest back.
TEST(FolderStartupMgrPower, ARestoreCutByPowerAtEachStepLeavesEveryFileInOnePlaceWhole)
{
    const ForgettingStartupFolder disk;
    if (!disk.Unavailable().empty())
        GTEST_SKIP() << disk.Unavailable();
    ASSERT_TRUE(disk.Ready());
    const std::string& folder = disk.Folder();
    const std::string eventName = "KeldoraRestoreHalt" + std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle halted(CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8(eventName).c_str()));
    const EnvVarScope haltEvent("KDAGENT_HALT_EVENT", eventName);
    const std::vector<std::string> names = {"a.bat", "b.bat"};
    auto content = [](const std::string& name) { return "@echo " + name + "\r\n" + std::string(3000, 'x'); };
    bool finished = false;
    int halts = 0;
    for (int step = 1; !finished; ++step) {
        SCOPED_TRACE("cut after step " + std::to_string(step));
        ASSERT_LT(step, 6) << "the restore never finished";
        ClearLocation(UserFolder);
        for (const std::string& name : names)
            WriteFile(folder + "\\" + name, content(name));
        ASSERT_TRUE(TFolderStartupMgr(UserFolder).SetupItems());
        disk.PowerCut();
        ResetEvent(halted.get());
        {
            const EnvVarScope halt("KDAGENT_HALT_AT_STEP", std::to_string(step));
            const UniqueKernelHandle restore = StartProcess("probe_system.exe restore 9");
            ASSERT_TRUE(restore);
            const HANDLE ends[] = {restore.get(), halted.get()};
            ASSERT_LT(WaitForMultipleObjects(2, ends, FALSE, 60000), WAIT_OBJECT_0 + 2);
            DWORD code = STILL_ACTIVE;
            finished = GetExitCodeProcess(restore.get(), &code) && code == 0;
            halts += !finished;
            TerminateProcess(restore.get(), 9);
            WaitForExit(restore.get());
        }
        disk.PowerCut();
        for (const std::string& name : names) {
            const bool back = FileExists(folder + "\\" + name);
            EXPECT_NE(back, FileExists(folder + "\\Keldora\\" + name)) << name << " in exactly one place";
            EXPECT_EQ(ReadFile(folder + (back ? "\\" : "\\Keldora\\") + name), content(name)) << name << " whole";
        }
        TFolderStartupMgr after(UserFolder);
        EXPECT_TRUE(finished || after.RestoreItems());
        for (const std::string& name : names)
            EXPECT_EQ(ReadFile(folder + "\\" + name), content(name)) << name;
        EXPECT_FALSE(PathExists(folder + "\\Keldora"));
    }
    EXPECT_EQ(halts, 2) << "cut after each file went back, then once the restore had ended";
}

// An all-users store as older versions left it, the file moved into it: a
// take-over leaves it (the agent starts it this session), then the one-time
// return puts it back where Windows starts it for every user, its section
// then naming it there; a section naming a file outside the store moves
// nothing. While another holds the machine's lock of the store, both are
// refused with the reason and change nothing.
TEST(AllUsersStore, FilesOlderVersionsMovedGoBackOnceAndTheMachineLockFailsClosed)
{
    ClearLocation(AllUsersStartupFolder);
    const std::string folder = GetStpDesc(AllUsersStartupFolder).Path;
    const std::string store = folder + "\\Keldora";
    ASSERT_TRUE(ForceDirectories(store));
    WriteFile(store + "\\old.bat", "@echo every user's\r\n");
    WriteFile(folder + "\\outside.bat", "@echo beside the store\r\n");
    const ProfileFile ini(store + "\\Keldora.ini");
    ASSERT_TRUE(ini.WriteSection("old.bat", {{"Desc", "old.bat"}, {"CmdLine", store + "\\old.bat"},
                                             {"Icon", store + "\\old.bat"}, {"Enable", "0"}}));
    ASSERT_TRUE(ini.WriteSection("..\\outside.bat", {{"Desc", "outside.bat"},
                                                     {"CmdLine", store + "\\..\\outside.bat"}}));
    {
        const UniqueFile held(CreateFileW(WideFromUtf8(store + "\\Keldora.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                                          0, nullptr, OPEN_ALWAYS, 0, nullptr));
        ASSERT_TRUE(held);
        TFolderStartupMgr blocked(AllUsersStartupFolder);
        const std::vector<std::function<bool()>> writes = {[&] { return blocked.SetupItems(); },
                                                           [&] { return blocked.ReturnOlderMoves(); }};
        for (const std::function<bool()>& write : writes) {
            try {
                write();
                ADD_FAILURE() << "written without the machine's lock";
            } catch (const EStartupMgrErr& e) {
                EXPECT_NE(std::string(e.what()).find("Keldora.lock"), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(ReadFile(store + "\\old.bat"), "@echo every user's\r\n") << "nothing changed";
        EXPECT_FALSE(FileExists(folder + "\\old.bat"));
    }
    DeleteFileW(WideFromUtf8(store + "\\Keldora.lock").c_str());

    TFolderStartupMgr mgr(AllUsersStartupFolder);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ReadFile(store + "\\old.bat"), "@echo every user's\r\n") << "the take-over leaves it";
    EXPECT_TRUE(mgr.ReturnOlderMoves());
    EXPECT_EQ(ReadFile(folder + "\\old.bat"), "@echo every user's\r\n");
    EXPECT_FALSE(FileExists(store + "\\old.bat"));
    EXPECT_EQ(ini.ReadString("old.bat", "CmdLine"), folder + "\\old.bat");
    EXPECT_EQ(ini.ReadString("old.bat", "Enable"), "0") << "its settings kept";
    EXPECT_EQ(ReadFile(folder + "\\outside.bat"), "@echo beside the store\r\n");
    EXPECT_FALSE(FileExists(store + "\\outside.bat"));
    EXPECT_FALSE(FileExists(store + "\\Keldora.lock")) << "the lock goes with its holder";
    const std::optional<std::string> once = ReadWholeFile(store + "\\Keldora.ini", 1 << 20);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_FALSE(mgr.ReturnOlderMoves()) << "once";
    EXPECT_EQ(ReadWholeFile(store + "\\Keldora.ini", 1 << 20), once) << "nothing written again";
    EXPECT_EQ(ReadFile(folder + "\\old.bat"), "@echo every user's\r\n");

    // Put in the folder again before the return: the older copy stays in the
    // store, and a restore leaves it there rather than over the live file.
    WriteFile(store + "\\again.bat", "@echo older\r\n");
    WriteFile(folder + "\\again.bat", "@echo live\r\n");
    ASSERT_TRUE(ini.WriteSection("again.bat", {{"Desc", "again.bat"}, {"CmdLine", store + "\\again.bat"}}));
    EXPECT_TRUE(mgr.ReturnOlderMoves());
    EXPECT_EQ(ini.ReadString("again.bat", "CmdLine"), folder + "\\again.bat");
    EXPECT_FALSE(mgr.RestoreItems());
    EXPECT_EQ(ReadFile(folder + "\\again.bat"), "@echo live\r\n") << "not replaced by the older copy";
    EXPECT_EQ(ReadFile(store + "\\again.bat"), "@echo older\r\n");
    const std::vector<std::string> notes = mgr.TakeNotes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const std::string& note) {
        return note.find("no section names this copy") != std::string::npos;
    }));
    ClearLocation(AllUsersStartupFolder);
}
