// Task Manager's choices (Explorer's StartupApproved values) at take-over and
// restore, in the prefix's real registry and Startup folder.
#include "StartupTestSupport.h"

#include "common/SystemFacts.h"
#include "core/ApprovalValue.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "winutil/FindFiles.h"
#include "winutil/ProfileFile.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

constexpr std::uint8_t MachineRun = 0;
constexpr std::uint8_t UserRun = 1;
constexpr std::uint8_t UserFolder = 9;

// First byte, then a FILETIME whose bytes tell the values apart.
std::string Choice(unsigned char first, std::size_t size = 12, char fill = '\x5a')
{
    std::string bytes(size, fill);
    if (size > 0)
        bytes[0] = static_cast<char>(first);
    return bytes;
}

std::optional<DWORD> StoredEnable(std::uint8_t location, const std::string& item, REGSAM view = 0)
{
    const TStpDesc desc = GetStpDesc(location);
    return RegKey::Open(desc.RootKey, desc.Path + "\\Keldora\\" + item, KEY_READ | view).ReadDword("Enable");
}

std::map<std::string, RegKey::Value> ValuesOf(const RegKey& key)
{
    std::vector<RegKey::Value> values;
    EXPECT_EQ(key.Values(values), ERROR_SUCCESS);
    std::map<std::string, RegKey::Value> byName;
    for (RegKey::Value& value : values)
        byName[value.name] = value;
    return byName;
}

class StartupApprovedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::uint8_t location : {MachineRun, UserRun, UserFolder})
            ClearLocation(location);
    }
    void TearDown() override { SetUp(); }
};

} // namespace

// Values of every shape: only binary ones of 12 bytes or more are choices,
// an odd first byte disables; the values themselves are never touched.
TEST_F(StartupApprovedTest, ChoicesOfAnyShapeDecideEnableAndComeBackExactly)
{
    const RegKey run = OpenRunKey(UserRun);
    const RegKey approved = OpenApprovedKey(HKEY_CURRENT_USER, "Run");
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
        DWORD enable;
    };
    const std::vector<Case> cases = {
        {"Off3", REG_BINARY, Choice(0x03), 0},          {"Off7", REG_BINARY, Choice(0x07), 0},
        {"On2", REG_BINARY, Choice(0x02), 1},           {"On6", REG_BINARY, Choice(0x06), 1},
        {"Unknown", REG_BINARY, Choice(0x10), 1},       {"Long", REG_BINARY, Choice(0x03, 40), 0},
        {"Short", REG_BINARY, Choice(0x03, 11), 1},     {"Empty", REG_BINARY, std::string(), 1},
        {"Huge", REG_BINARY, Choice(0x03, 5000), 1},    {"Text", REG_SZ, std::string("0\0003\0\0\0", 6), 1},
        {"Number", REG_DWORD, std::string("\x03\0\0\0", 4), 1},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(run.WriteString(c.name, "C:\\KdNowhere\\" + std::string(c.name) + ".exe"), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(approved.get(), WideFromUtf8(c.name).c_str(), 0, c.type,
                                 reinterpret_cast<const BYTE*>(c.data.data()), static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
    }
    ASSERT_EQ(run.WriteString("", "C:\\KdNowhere\\unnamed.exe -u"), ERROR_SUCCESS);
    ASSERT_EQ(approved.WriteBinary("", Choice(0x03)), ERROR_SUCCESS) << "the unnamed value's choice";
    const auto choicesBefore = ValuesOf(approved);

    TRegStartupMgr mgr(UserRun);
    ASSERT_TRUE(mgr.SetupItems());
    for (const Case& c : cases)
        EXPECT_EQ(StoredEnable(UserRun, c.name), c.enable) << c.name;
    const TStpDesc desc = GetStpDesc(UserRun);
    std::vector<std::string> keys;
    ASSERT_EQ(RegKey::Open(desc.RootKey, desc.Path + "\\Keldora", KEY_READ).SubKeyNames(keys), ERROR_SUCCESS);
    const auto unnamed = std::find_if(keys.begin(), keys.end(), [&](const std::string& key) {
        return RegKey::Open(desc.RootKey, desc.Path + "\\Keldora\\" + key, KEY_READ).ReadString("Name") == "";
    });
    ASSERT_NE(unnamed, keys.end()) << "the unnamed value's item records its empty name";
    EXPECT_EQ(StoredEnable(UserRun, *unnamed), 0u);
    const auto choicesAfter = ValuesOf(approved);
    ASSERT_EQ(choicesAfter.size(), choicesBefore.size());
    for (const auto& [name, value] : choicesBefore)
        EXPECT_EQ(choicesAfter.at(name).data, value.data) << "left alone: " << name;

    // The agent's own switch stands while Task Manager's choice stays as it
    // was; a new choice there is the user's latest word.
    ASSERT_EQ(RegKey::Open(desc.RootKey, desc.Path + "\\Keldora\\Off3", KEY_ALL_ACCESS).WriteDword("Enable", 1),
              ERROR_SUCCESS);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(StoredEnable(UserRun, "Off3"), 1u);
    ASSERT_EQ(approved.WriteBinary("On2", Choice(0x03, 12, '\x6b')), ERROR_SUCCESS);
    ASSERT_EQ(approved.WriteBinary("Off7", Choice(0x02, 12, '\x6b')), ERROR_SUCCESS);
    ASSERT_TRUE(mgr.SetupItems());
    EXPECT_EQ(StoredEnable(UserRun, "On2"), 0u);
    EXPECT_EQ(StoredEnable(UserRun, "Off7"), 1u);

    // Entries and choices gone: the restore brings back each entry once under
    // its own name, and each choice the store had a copy of, byte for byte.
    const auto choicesNow = ValuesOf(approved);
    for (const auto& [name, value] : ValuesOf(run))
        ASSERT_EQ(run.DeleteValue(name), ERROR_SUCCESS);
    for (const auto& [name, value] : choicesNow)
        ASSERT_EQ(approved.DeleteValue(name), ERROR_SUCCESS);
    mgr.Reload();
    ASSERT_TRUE(mgr.RestoreItems());
    const auto restored = ValuesOf(run);
    EXPECT_EQ(restored.size(), cases.size() + 1) << "each entry once";
    ASSERT_TRUE(restored.count(""));
    EXPECT_EQ(RegStringData(restored.at("").data), "C:\\KdNowhere\\unnamed.exe -u");
    const auto choicesRestored = ValuesOf(approved);
    for (const Case& c : cases) {
        const bool copied = ApprovalOf(c.type == REG_BINARY, c.data) != TApproval::apNone;
        ASSERT_EQ(choicesRestored.count(c.name), copied ? 1u : 0u) << c.name;
        if (copied) {
            EXPECT_EQ(choicesRestored.at(c.name).data, choicesNow.at(c.name).data) << c.name;
        }
    }
    ASSERT_TRUE(choicesRestored.count(""));
    EXPECT_EQ(choicesRestored.at("").data, Choice(0x03));
}

// The machine's Run key in each view has its own choices: "Run" for the
// 64-bit view, "Run32" for the 32-bit one; each is read in either view of
// the StartupApproved key. A 32-bit system has one view, whose choices are
// under "Run".
TEST_F(StartupApprovedTest, MachineChoicesOfBothViews)
{
    if (!Is64BitWindows()) {
        ASSERT_EQ(LocationViews(MachineRun), std::vector<REGSAM>{0});
        ASSERT_EQ(OpenRunKey(MachineRun).WriteString("Tool", "C:\\KdNowhere\\t.exe"), ERROR_SUCCESS);
        ASSERT_EQ(OpenApprovedKey(HKEY_LOCAL_MACHINE, "Run").WriteBinary("Tool", Choice(0x03)), ERROR_SUCCESS);
        TRegStartupMgr only(MachineRun, 0);
        ASSERT_TRUE(only.SetupItems());
        EXPECT_EQ(StoredEnable(MachineRun, "Tool"), 0u);
        return;
    }
    ASSERT_EQ(OpenRunKey(MachineRun, KEY_WOW64_64KEY).WriteString("Tool64", "C:\\KdNowhere\\t64.exe"), ERROR_SUCCESS);
    ASSERT_EQ(OpenRunKey(MachineRun, KEY_WOW64_32KEY).WriteString("Tool32", "C:\\KdNowhere\\t32.exe"), ERROR_SUCCESS);
    ASSERT_EQ(OpenRunKey(MachineRun, KEY_WOW64_32KEY).WriteString("Old32", "C:\\KdNowhere\\o32.exe"), ERROR_SUCCESS);
    ASSERT_EQ(OpenApprovedKey(HKEY_LOCAL_MACHINE, "Run", KEY_WOW64_64KEY).WriteBinary("Tool64", Choice(0x03)),
              ERROR_SUCCESS);
    ASSERT_EQ(OpenApprovedKey(HKEY_LOCAL_MACHINE, "Run32", KEY_WOW64_64KEY).WriteBinary("Tool32", Choice(0x07)),
              ERROR_SUCCESS);
    // Written by a 32-bit tool: in the 32-bit view of the StartupApproved key.
    ASSERT_EQ(OpenApprovedKey(HKEY_LOCAL_MACHINE, "Run32", KEY_WOW64_32KEY).WriteBinary("Old32", Choice(0x03)),
              ERROR_SUCCESS);
    TRegStartupMgr native(MachineRun, KEY_WOW64_64KEY), wow(MachineRun, KEY_WOW64_32KEY);
    ASSERT_TRUE(native.SetupItems());
    ASSERT_TRUE(wow.SetupItems());
    EXPECT_EQ(StoredEnable(MachineRun, "Tool64", KEY_WOW64_64KEY), 0u);
    EXPECT_EQ(StoredEnable(MachineRun, "Tool32", KEY_WOW64_32KEY), 0u);
    EXPECT_EQ(StoredEnable(MachineRun, "Old32", KEY_WOW64_32KEY), 0u);
    EXPECT_FALSE(StoredEnable(MachineRun, "Tool32", KEY_WOW64_64KEY)) << "each view keeps its own";
}

// A Startup file's choice is named by the file; Explorer may drop it once the
// file has gone, and the restore puts it back with the file.
TEST_F(StartupApprovedTest, StartupFileChoiceTravelsWithTheFile)
{
    const std::string folder = GetStpDesc(UserFolder).Path;
    WriteFile(folder + "\\off.txt", "off");
    WriteFile(folder + "\\on.txt", "on");
    const RegKey approved = OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder");
    ASSERT_EQ(approved.WriteBinary("off.txt", Choice(0x03)), ERROR_SUCCESS);
    ASSERT_EQ(approved.WriteBinary("on.txt", Choice(0x02, 11)), ERROR_SUCCESS) << "too short: no choice";
    TFolderStartupMgr mgr(UserFolder);
    ASSERT_TRUE(mgr.SetupItems());
    const ProfileFile ini(mgr.IniFile());
    EXPECT_EQ(ini.ReadString("off.txt", "Enable"), "0");
    EXPECT_EQ(ini.ReadString("off.txt", "Approved"), ApprovalHex(Choice(0x03)));
    EXPECT_EQ(ini.ReadString("on.txt", "Enable"), "1");
    EXPECT_FALSE(ini.HasKey("on.txt", "Approved"));
    // A damaged copy in the store is no choice and is not written back.
    ASSERT_TRUE(ini.WriteString("on.txt", "Approved", "03zz"));

    ASSERT_EQ(approved.DeleteValue("off.txt"), ERROR_SUCCESS);
    ASSERT_EQ(approved.DeleteValue("on.txt"), ERROR_SUCCESS);
    ASSERT_TRUE(mgr.RestoreItems());
    EXPECT_EQ(ReadFile(folder + "\\off.txt"), "off");
    EXPECT_EQ(ReadFile(folder + "\\on.txt"), "on");
    RegKey::Value value;
    ASSERT_EQ(approved.Query("off.txt", value), ERROR_SUCCESS);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(value.data, Choice(0x03));
    EXPECT_FALSE(approved.HasValue("on.txt"));
}
