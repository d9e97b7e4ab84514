#include "StartupTestSupport.h"

#include "common/AppPaths.h"
#include "startup/RegStartupMgr.h"
#include "core/StrCon.h"
#include "core/Utf8.h"
#include "winutil/FindFiles.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

namespace {

constexpr std::uint8_t UserRun = 1;

class RegStartupMgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearLocation(UserRun);
        run = OpenRunKey(UserRun);
        ASSERT_TRUE(run);
        notepad = GetWindowsDir() + "\\notepad.exe";
    }
    void TearDown() override { ClearLocation(UserRun); }

    std::string StorePath(const std::string& item = {}) const
    {
        return GetStpDesc(UserRun).Path + "\\Keldora" + (item.empty() ? "" : "\\" + item);
    }
    RegKey ItemKey(const std::string& item) const { return RegKey::Open(HKEY_CURRENT_USER, StorePath(item), KEY_READ); }

    std::map<std::string, RegKey::Value> RunValues() const
    {
        std::vector<RegKey::Value> values;
        EXPECT_EQ(run.Values(values), ERROR_SUCCESS);
        std::map<std::string, RegKey::Value> byName;
        for (auto& v : values)
            byName[v.name] = v;
        return byName;
    }

    RegKey run;
    std::string notepad;
};

} // namespace

TEST_F(RegStartupMgrTest, TakeOverCopiesEveryStringEntry)
{
    EXPECT_EQ(run.WriteString("Keldora", "ignored"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Tool", "   " + notepad + " /x   "), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteDword("Number", 5), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("", notepad + " -default"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Exp", "%windir%\\notepad.exe", REG_EXPAND_SZ), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Keldora Helper", "\"" + notepad + "\""), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Pr\xFC" "fung", notepad), ERROR_SUCCESS);

    TRegStartupMgr mgr(UserRun);
    EXPECT_EQ(mgr.Count(), 0);
    ASSERT_TRUE(mgr.SetupItems());

    RegKey tool = ItemKey("Tool");
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool.ReadString("CmdLine").value_or(""), notepad + " /x");
    EXPECT_TRUE(SameText(tool.ReadString("Icon").value_or(""), notepad));
    EXPECT_EQ(tool.ReadDword("DelayTime").value_or(9), 0u);
    EXPECT_EQ(tool.ReadDword("Enable").value_or(9), 1u);
    std::vector<RegKey::Value> listed;
    EXPECT_EQ(run.Values(listed), ERROR_SUCCESS);
    DWORD position = 0;
    while (position < listed.size() && listed[position].name != "Tool")
        ++position;
    EXPECT_EQ(tool.ReadDword("Order").value_or(0), 10 + position);  // skipped values still count

    EXPECT_FALSE(ItemKey("Number"));
    EXPECT_TRUE(ItemKey("Keldora Helper"));
    EXPECT_TRUE(ItemKey("Pr\xFC" "fung"));
    EXPECT_TRUE(ItemKey("Exp"));

    mgr.Reload();
    EXPECT_EQ(mgr.Count(), 5);  // Tool, Exp, Keldora Helper, Pr\xFC fung and the unnamed value
    for (int i = 0; i < mgr.Count(); ++i) {
        EXPECT_EQ(mgr.Items(i)->Owner, &mgr);
        EXPECT_EQ(mgr.Items(i)->Location, UserRun);
        EXPECT_FALSE(mgr.Items(i)->Desc.empty());
    }
    EXPECT_EQ(RunValues().size(), 7u);  // take-over never removes a native value

    // Only the exact name is the product's own; another spelling is an entry.
    ClearLocation(UserRun);
    run = OpenRunKey(UserRun);
    EXPECT_EQ(run.WriteString("KELDORA", notepad), ERROR_SUCCESS);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_TRUE(ItemKey("KELDORA"));
}

TEST_F(RegStartupMgrTest, RepeatedTakeOverKeepsUserSettings)
{
    EXPECT_EQ(run.WriteString("Tool", notepad), ERROR_SUCCESS);
    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(RegKey::Open(HKEY_CURRENT_USER, StorePath("Tool"), KEY_WRITE).WriteDword("DelayTime", 5), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Tool", notepad + " /changed"), ERROR_SUCCESS);
    ASSERT_TRUE(mgr.SetupItems());
    RegKey tool = ItemKey("Tool");
    EXPECT_EQ(tool.ReadDword("DelayTime").value_or(0), 5u);
    EXPECT_EQ(tool.ReadString("CmdLine").value_or(""), notepad + " /changed");
}

TEST_F(RegStartupMgrTest, NothingToTakeOver)
{
    TRegStartupMgr empty(UserRun);
    EXPECT_FALSE(empty.SetupItems());
    EXPECT_EQ(run.WriteString("Keldora", "x"), ERROR_SUCCESS);
    EXPECT_FALSE(empty.SetupItems());
    EXPECT_FALSE(RegKey::Exists(HKEY_CURRENT_USER, StorePath()));
    EXPECT_TRUE(empty.SaveItems());
}

TEST_F(RegStartupMgrTest, RoundTripLosesNothingBeyondTheCut)
{
    const std::string longName(300, 'N');
    const std::string longLine = notepad + " " + std::string(300, 'a');
    EXPECT_EQ(run.WriteString("Plain", notepad + " /p"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Exp", "%windir%\\notepad.exe", REG_EXPAND_SZ), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Exp2", "%windir%\\notepad.exe /2", REG_EXPAND_SZ), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Long", longLine), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString(longName, notepad), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("\\\\", notepad), ERROR_SUCCESS);  // would address the store key itself
    const auto before = RunValues();

    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    for (const auto& [name, value] : before) {
        // Wine refuses key names of about 250 characters and more, so an entry
        // with a long name may stay outside the store: it is kept in the Run key.
        if (name != longName)
            static_cast<void>(run.DeleteValue(name));
    }
    EXPECT_EQ(run.WriteString("Long", longLine), ERROR_SUCCESS);  // the user's longer line is still there
    EXPECT_EQ(run.WriteString("Exp", "%windir%\\old.exe", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_TRUE(mgr.RestoreItems());

    const auto after = RunValues();
    EXPECT_EQ(after.at("Plain").data, before.at("Plain").data);
    EXPECT_EQ(after.at("Exp").type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(after.at("Exp").data, before.at("Exp").data);
    EXPECT_EQ(after.at("Exp2").type, static_cast<DWORD>(REG_EXPAND_SZ));  // gone from the key, type kept by the store
    EXPECT_EQ(after.at("Exp2").data, before.at("Exp2").data);
    EXPECT_EQ(RegStringData(after.at("Long").data), longLine);  // not overwritten by the cut copy
    EXPECT_EQ(RegStringData(after.at(longName).data), notepad);
    EXPECT_EQ(after.count("\\\\"), 0u);
    EXPECT_GE(after.size(), 5u);
}

TEST_F(RegStartupMgrTest, DamagedItemKeysCostOnlyThemselves)
{
    EXPECT_EQ(run.WriteString("A", notepad), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("B", notepad), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("C", notepad), ERROR_SUCCESS);
    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(RegKey::Open(HKEY_CURRENT_USER, StorePath("B"), KEY_WRITE).WriteString("DelayTime", "soon"), ERROR_SUCCESS);
    static_cast<void>(RegKey::Open(HKEY_CURRENT_USER, StorePath("C"), KEY_WRITE).DeleteValue("CmdLine"));
    RegKey::Create(HKEY_CURRENT_USER, StorePath("Empty"), KEY_WRITE);
    // A store written before names with backslashes had keys of their own.
    EXPECT_EQ(RegKey::Create(HKEY_CURRENT_USER, StorePath("Old\\Nested"), KEY_WRITE).WriteString("CmdLine", notepad), ERROR_SUCCESS);
    mgr.Reload();

    // Keys without a command line are listed, so that they can be saved and deleted.
    std::map<std::string, const TStartupItem*> byDesc;
    for (int i = 0; i < mgr.Count(); ++i)
        byDesc[mgr.Items(i)->Desc.str()] = mgr.Items(i);
    ASSERT_EQ(byDesc.size(), 3u);
    EXPECT_EQ(byDesc.at("A")->CmdLine.str(), notepad);
    EXPECT_TRUE(byDesc.at("C")->CmdLine.empty());
    EXPECT_TRUE(byDesc.at("Empty")->CmdLine.empty() && byDesc.at("Empty")->Icon.empty());
    EXPECT_FALSE(byDesc.at("Empty")->Enable);

    ASSERT_TRUE(mgr.SaveItems());
    EXPECT_EQ(ItemKey("Empty").ReadDword("Order").value_or(99), static_cast<DWORD>(byDesc.at("Empty")->Order));
    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_FALSE(run.HasValue("Empty")) << "nothing to start, nothing restored";
    for (int i = 0; i < mgr.Count(); ++i)
        EXPECT_TRUE(mgr.DeleteItem(i)) << mgr.Items(i)->Desc.str();
    EXPECT_FALSE(ItemKey("C"));
    EXPECT_FALSE(ItemKey("Empty"));
}

TEST_F(RegStartupMgrTest, NamesWithBackslashesAreListedRestoredAndDeleted)
{
    EXPECT_EQ(run.WriteString("", notepad + " -default"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Tools\\Helper", notepad + " /h"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Plain", notepad + " /p"), ERROR_SUCCESS);
    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    std::map<std::string, std::string> lines;
    for (int i = 0; i < mgr.Count(); ++i)
        lines[mgr.Items(i)->Desc.str()] = mgr.Items(i)->CmdLine.str();
    ASSERT_EQ(lines.size(), 3u);
    const auto unnamed = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return SameText(l.first, notepad); });
    ASSERT_NE(unnamed, lines.end()) << "the unnamed value is named by its program";
    EXPECT_EQ(unnamed->second, notepad + " -default");
    EXPECT_EQ(lines.at("Tools\\Helper"), notepad + " /h");

    // One key each below the store, the name kept whole in "Desc"; other names keep their own key names.
    EXPECT_TRUE(ItemKey("Tools%5CHelper"));
    EXPECT_TRUE(ItemKey("Plain"));
    std::vector<std::string> storeKeys;
    EXPECT_EQ(RegKey::Open(HKEY_CURRENT_USER, StorePath(), KEY_READ).SubKeyNames(storeKeys), ERROR_SUCCESS);
    EXPECT_EQ(storeKeys.size(), 3u);

    // Each comes back under the name it had: the unnamed value unnamed, once,
    // over the value still there and into a key emptied by hand.
    static_cast<void>(run.DeleteValue("Tools\\Helper"));
    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_EQ(run.ReadString("Tools\\Helper").value_or(""), notepad + " /h");
    EXPECT_EQ(run.ReadString("").value_or(""), notepad + " -default");
    EXPECT_FALSE(run.HasValue(unnamed->first)) << "no twin named by its program";
    EXPECT_EQ(RunValues().size(), 3u);
    for (const auto& [name, value] : RunValues())
        static_cast<void>(run.DeleteValue(name));
    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_EQ(run.ReadString("").value_or(""), notepad + " -default");
    EXPECT_EQ(RunValues().size(), 3u);

    // A store written before names were recorded knows the entry by its Desc
    // alone: the unnamed value holding its line is taken for it.
    static_cast<void>(RegKey::Open(HKEY_CURRENT_USER, StorePath(ReplaceAll("\\", "%5C", unnamed->first)), KEY_ALL_ACCESS).DeleteValue("Name"));
    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_FALSE(run.HasValue(unnamed->first));
    EXPECT_EQ(RunValues().size(), 3u);

    for (int i = 0; i < mgr.Count(); ++i)
        EXPECT_TRUE(mgr.DeleteItem(i)) << mgr.Items(i)->Desc.str();
    storeKeys.clear();
    EXPECT_EQ(RegKey::Open(HKEY_CURRENT_USER, StorePath(), KEY_READ).SubKeyNames(storeKeys), ERROR_SUCCESS);
    EXPECT_TRUE(storeKeys.empty());
}

TEST_F(RegStartupMgrTest, CutRuleAndStringTypeSurviveSaveAndRestore)
{
    EXPECT_EQ(run.WriteString("Tool", notepad + " /x"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Exp", "%windir%\\notepad.exe /e", REG_EXPAND_SZ), ERROR_SUCCESS);
    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    for (int i = 0; i < mgr.Count(); ++i) {
        TStartupItem& item = *mgr.Items(i);
        if (item.Desc.str() == "Tool")
            item.CmdLine = notepad;  // the user removed "/x"
        item.DelayTime = 7;
    }
    ASSERT_TRUE(mgr.SaveItems());
    RegKey::Value saved;
    ASSERT_EQ(ItemKey("Exp").Query("CmdLine", saved), ERROR_SUCCESS);
    EXPECT_EQ(saved.type, static_cast<DWORD>(REG_EXPAND_SZ));

    static_cast<void>(run.DeleteValue("Exp"));
    mgr.Reload();
    ASSERT_TRUE(mgr.RestoreItems());
    const auto after = RunValues();
    EXPECT_EQ(RegStringData(after.at("Tool").data), notepad) << "a shortened line is not a cut one";
    EXPECT_EQ(after.at("Exp").type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(RegStringData(after.at("Exp").data), "%windir%\\notepad.exe /e");
}

TEST_F(RegStartupMgrTest, RefreshFindingNothingNewWritesNothing)
{
    EXPECT_EQ(run.WriteString("A", notepad + " /a"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("", notepad + " -default"), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Exp", "%windir%\\notepad.exe", REG_EXPAND_SZ), ERROR_SUCCESS);
    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    const auto stamps = [&] {
        std::map<std::string, std::uint64_t> times;
        std::vector<std::string> names;
        EXPECT_EQ(RegKey::Open(HKEY_CURRENT_USER, StorePath(), KEY_READ).SubKeyNames(names), ERROR_SUCCESS);
        for (const std::string& name : names) {
            const FILETIME written = ItemKey(name).LastWriteTime();
            times[name] = (std::uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime;
        }
        return times;
    };
    const auto before = stamps();
    ASSERT_EQ(before.size(), 3u);
    Sleep(50);
    ASSERT_TRUE(mgr.SetupItems());
    ASSERT_TRUE(mgr.SaveItems());
    EXPECT_EQ(stamps(), before);

    EXPECT_EQ(run.WriteString("A", notepad + " /changed"), ERROR_SUCCESS);
    Sleep(50);
    ASSERT_TRUE(mgr.SetupItems());
    const auto after = stamps();
    EXPECT_NE(after.at("A"), before.at("A"));
    EXPECT_EQ(after.at("Exp"), before.at("Exp"));
    EXPECT_EQ(ItemKey("A").ReadString("CmdLine").value_or(""), notepad + " /changed");

    // A program installed after its entry was taken over gets its icon from the next manager.
    const std::string later = "C:\\KdLater\\later.exe";
    EXPECT_EQ(run.WriteString("Later", later + " /x"), ERROR_SUCCESS);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ItemKey("Later").ReadString("Icon").value_or(""), "ThisFileWillNeverExists.exe");
    CreateDirectoryW(L"C:\\KdLater", nullptr);
    WriteFile(later, "program");
    TRegStartupMgr next(UserRun);
    ASSERT_TRUE(next.SetupItems());
    EXPECT_TRUE(SameText(ItemKey("Later").ReadString("Icon").value_or(""), later));
    DeleteFileW(WideFromUtf8(later).c_str());
    RemoveDirectoryW(L"C:\\KdLater");
}

TEST_F(RegStartupMgrTest, DeleteAndSave)
{
    EXPECT_EQ(run.WriteString("A", notepad), ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("B", notepad), ERROR_SUCCESS);
    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 2);

    mgr.Items(0)->Order = 42;
    mgr.Items(0)->Enable = false;
    EXPECT_TRUE(mgr.SaveItems());
    RegKey saved = ItemKey(mgr.Items(0)->Desc.str());
    EXPECT_EQ(saved.ReadDword("Order").value_or(0), 42u);
    EXPECT_EQ(saved.ReadDword("Enable").value_or(9), 0u);

    EXPECT_TRUE(mgr.DeleteItem(0));
    EXPECT_EQ(mgr.Count(), 2);  // the list changes only on reload
    EXPECT_FALSE(mgr.DeleteItem(0));
    EXPECT_TRUE(run.HasValue(mgr.Items(0)->Desc.str()));
    try {
        mgr.DeleteItem(2);
        FAIL();
    } catch (const EStartupMgrErr& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to delete itemsfrom registry:\"" + GetStpDesc(UserRun).Path +
                                             "\".\r\nErr Description:\"Item index out of range (uStartupMgr)\"");
    }
}

TEST_F(RegStartupMgrTest, AddItemRegistersAProgram)
{
    TRegStartupMgr mgr(UserRun);
    TStartupItem item;
    item.Desc = "Keldora Agent";
    item.CmdLine = notepad;
    item.Order = 77;
    ASSERT_TRUE(mgr.AddItem(item));
    ASSERT_EQ(mgr.Count(), 1);
    EXPECT_EQ(mgr.Items(0)->Order, 11);  // location * 10 + count + 1; the caller's Order is not used
    EXPECT_TRUE(mgr.AddItem(item));
    EXPECT_EQ(mgr.Count(), 1);
    item.Desc = "\\";
    EXPECT_FALSE(mgr.AddItem(item));
    item.Desc = "X";
    item.CmdLine = "";
    EXPECT_FALSE(mgr.AddItem(item));
    EXPECT_EQ(mgr.Count(), 1);
}

// A registry manager reports an error only when a key it has opened fails it
// afterwards. Wine grants full access whatever a key's security says, and a
// key whose store cannot be opened or created counts as absent, so the one
// real obstacle left here is a store that refuses new keys: a volatile one,
// under which keys that outlive a restart cannot be created.
TEST_F(RegStartupMgrTest, StoreThatRefusesNewKeysLosesNothing)
{
    EXPECT_EQ(run.WriteString("A", notepad + " /a"), ERROR_SUCCESS);
    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    ASSERT_EQ(mgr.Count(), 1);
    ASSERT_EQ(RegKey::DeleteTree(HKEY_CURRENT_USER, StorePath()), ERROR_SUCCESS);
    HKEY store = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, WideFromUtf8(RegistryPath(StorePath())).c_str(), 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &store, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(store);
    LONG refused = ERROR_SUCCESS;
    EXPECT_FALSE(RegKey::Create(HKEY_CURRENT_USER, StorePath("Probe"), KEY_ALL_ACCESS, &refused));
    EXPECT_EQ(refused, ERROR_CHILD_MUST_BE_VOLATILE);
    EXPECT_EQ(run.WriteString("B", notepad + " /b"), ERROR_SUCCESS);
    const auto runBefore = RunValues();

    EXPECT_FALSE(mgr.SaveItems()) << "an item that could not be written is not saved";
    EXPECT_TRUE(mgr.SetupItems());  // the entries were read; none could be stored
    std::vector<std::string> stored;
    ASSERT_EQ(RegKey::Open(HKEY_CURRENT_USER, StorePath(), KEY_READ).SubKeyNames(stored), ERROR_SUCCESS);
    EXPECT_TRUE(stored.empty());
    TStartupItem item;
    item.Desc = "C";
    item.CmdLine = notepad;
    EXPECT_FALSE(mgr.AddItem(item));
    EXPECT_EQ(mgr.Count(), 1) << "a failed add leaves the list as it was";

    static_cast<void>(run.DeleteValue("A"));
    ASSERT_TRUE(mgr.RestoreItems());
    const auto runAfter = RunValues();
    ASSERT_EQ(runAfter.size(), runBefore.size());
    for (const auto& [name, value] : runBefore) {
        EXPECT_EQ(runAfter.at(name).type, value.type) << name;
        EXPECT_EQ(runAfter.at(name).data, value.data) << name;
    }
}

// Names in Japanese, Russian and German, and one that is no valid UTF-16, are
// taken over and come back as themselves: nothing renamed, no "??" twin.
TEST_F(RegStartupMgrTest, NamesInAnyScriptComeBackAsThemselves)
{
    const std::u16string loneUnits = std::u16string(u"Tool") + char16_t(0xD800);
    const std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac" "Tool";
    const std::string russian = "\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd0\xb0";
    const std::string german = "J\xc3\xb6rg Pr\xc3\xbc" "fung";
    const std::string names[] = {japanese, russian, german, Utf8FromUtf16(loneUnits)};
    for (std::size_t i = 0; i < std::size(names); ++i)
        EXPECT_EQ(run.WriteString(names[i], notepad + " /" + std::to_string(i)), ERROR_SUCCESS);
    const auto before = RunValues();

    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    // The store's keys as the wide API lists them.
    std::set<std::wstring> keys;
    const RegKey store = RegKey::Open(HKEY_CURRENT_USER, StorePath(), KEY_READ);
    wchar_t key[256];
    for (DWORD i = 0, length = 256; RegEnumKeyExW(store.get(), i, key, &length, nullptr, nullptr, nullptr, nullptr) ==
                                    ERROR_SUCCESS;
         ++i, length = 256)
        keys.insert(std::wstring(key, length));
    const std::wstring lone(loneUnits.begin(), loneUnits.end());
    EXPECT_EQ(keys, (std::set<std::wstring>{L"\x65E5\x672C" L"Tool", L"\x41F\x440\x43E\x433\x440\x430\x43C\x43C\x430",
                                            L"J\xF6rg Pr\xFC" L"fung", lone}));
    EXPECT_EQ(ItemKey(names[0]).ReadString("Desc").value_or(""), names[0]);
    EXPECT_EQ(ItemKey(names[3]).ReadString("CmdLine").value_or(""), notepad + " /3");

    mgr.Reload();
    for (const std::string& name : names)
        static_cast<void>(run.DeleteValue(name));
    ASSERT_TRUE(mgr.RestoreItems());
    const auto after = RunValues();
    ASSERT_EQ(after.size(), before.size()) << "no twin";
    for (const auto& [name, value] : before)
        EXPECT_EQ(after.at(name).data, value.data) << name;
    wchar_t data[64] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(RegGetValueW(run.get(), nullptr, lone.c_str(), RRF_RT_REG_SZ, nullptr, data, &size), ERROR_SUCCESS);

    // Again with the values in place: nothing new in the store or the Run key.
    ASSERT_TRUE(mgr.SetupItems());
    mgr.Reload();
    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_EQ(mgr.Count(), 4);
    EXPECT_EQ(RunValues().size(), before.size());
}

// Entries no well-behaved program writes still get a defined result, and
// none is lost: each is taken over or left in the Run key, and told once.
TEST_F(RegStartupMgrTest, OddEntriesAreTakenOverOrLeftAndToldOnce)
{
    const std::wstring wideNotepad = WideFromUtf8(notepad);
    const std::string longest(16383, 'L');  // the longest name a value can have
    EXPECT_EQ(run.WriteString(longest, notepad + " /long"), ERROR_SUCCESS);
    // REG_SZ data without its terminating zero, and with an odd byte count.
    EXPECT_EQ(RegSetValueExW(run.get(), L"Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(wideNotepad.data()),
                             static_cast<DWORD>(wideNotepad.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(run.get(), L"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(wideNotepad.c_str()),
                             static_cast<DWORD>((wideNotepad.size() + 1) * sizeof(wchar_t) + 1)),
              ERROR_SUCCESS);
    EXPECT_EQ(run.WriteString("Nothing", ""), ERROR_SUCCESS);
    const auto before = RunValues();

    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(ItemKey("Bare").ReadString("CmdLine").value_or(""), notepad);
    EXPECT_EQ(ItemKey("Odd").ReadString("CmdLine").value_or(""), notepad);
    std::vector<std::string> stored;
    ASSERT_EQ(RegKey::Open(HKEY_CURRENT_USER, StorePath(), KEY_READ).SubKeyNames(stored), ERROR_SUCCESS);
    EXPECT_EQ(stored.size(), 2u) << "Bare and Odd; not the long name, not the empty line";
    const std::vector<std::string> notes = mgr.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("longer than 255 characters; it is left where it is"), std::string::npos) << notes[0];
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_TRUE(mgr.TakeNotes().empty()) << "told once";

    mgr.Reload();
    for (const char* name : {"Bare", "Odd"})
        static_cast<void>(run.DeleteValue(name));
    ASSERT_TRUE(mgr.RestoreItems());
    const auto after = RunValues();
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, value] : before)
        EXPECT_EQ(RegStringData(after.at(name).data), RegStringData(value.data)) << name.substr(0, 20);
}
