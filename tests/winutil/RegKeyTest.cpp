#include "winutil/RegKey.h"

#include "core/Utf8.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

constexpr const char* TestKey = "\\Software\\KeldoraTests\\RegKey";

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static_cast<void>(RegKey::DeleteTree(HKEY_CURRENT_USER, TestKey));
        key = RegKey::Create(HKEY_CURRENT_USER, TestKey, KEY_ALL_ACCESS);
        ASSERT_TRUE(key);
    }
    void TearDown() override
    {
        key = RegKey();
        static_cast<void>(RegKey::DeleteTree(HKEY_CURRENT_USER, TestKey));
    }
    RegKey key;
};

} // namespace

TEST_F(RegKeyTest, LeadingBackslashIsAccepted)
{
    EXPECT_TRUE(RegKey::Exists(HKEY_CURRENT_USER, TestKey));
    EXPECT_TRUE(RegKey::Exists(HKEY_CURRENT_USER, TestKey + 1));
    EXPECT_EQ(RegistryPath("\\\\a\\b"), "a\\b");
}

TEST_F(RegKeyTest, StringsWithAndWithoutTerminator)
{
    const wchar_t raw[] = {L'a', L'b', L'c'};
    ASSERT_EQ(RegSetValueExW(key.get(), L"bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), sizeof raw), 0);
    EXPECT_EQ(key.ReadString("bare").value_or("?"), "abc");
    // An odd byte count: the last byte is half a character and is left out.
    ASSERT_EQ(RegSetValueExW(key.get(), L"odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"ab"), 3), 0);
    EXPECT_EQ(key.ReadString("odd").value_or("?"), "a");
    ASSERT_EQ(RegSetValueExW(key.get(), L"one byte", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1), 0);
    EXPECT_EQ(key.ReadString("one byte").value_or("?"), "");
    ASSERT_EQ(RegSetValueExW(key.get(), L"none", 0, REG_EXPAND_SZ, nullptr, 0), 0);
    EXPECT_EQ(key.ReadString("none").value_or("?"), "");
    ASSERT_EQ(key.DeleteValue("odd"), 0);
    ASSERT_EQ(key.DeleteValue("one byte"), 0);
    ASSERT_EQ(key.DeleteValue("none"), 0);

    const std::string big(70000, 'z');
    ASSERT_EQ(key.WriteString("big", big, REG_EXPAND_SZ), 0);
    EXPECT_EQ(key.ReadString("big").value_or(""), big);

    ASSERT_EQ(key.WriteDword("num", 7), 0);
    EXPECT_FALSE(key.ReadString("num"));
    EXPECT_EQ(key.ReadDword("num").value_or(0), 7u);
    EXPECT_FALSE(key.ReadDword("big"));
    EXPECT_FALSE(key.ReadString("missing"));
    EXPECT_TRUE(key.HasValue("num"));

    std::vector<RegKey::Value> values;
    ASSERT_EQ(key.Values(values), 0);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[1].type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(RegStringData(values[1].data), big);
}

// The system's own tools read what we write, and we read what they write.
TEST_F(RegKeyTest, NamesAndTextInAnyScriptComeBackExactly)
{
    const std::u16string loneUnits = std::u16string(u"Tool") + char16_t(0xD800) + u"x";
    const std::string names[] = {"\xe6\x97\xa5\xe6\x9c\xacTool",
                                 "\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd0\xb0",
                                 "J\xc3\xb6rg", Utf8FromUtf16(loneUnits), ""};
    for (const std::string& name : names) {
        ASSERT_EQ(key.WriteString(name, "C:\\\xe4\xba\xa7\xe5\x93\x81\\" + name + ".exe"), 0) << name;
        if (!name.empty()) {
            ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, std::string(TestKey) + "\\" + name, KEY_WRITE)) << name;
        }
    }
    wchar_t wide[64] = {};
    DWORD size = sizeof wide;
    ASSERT_EQ(RegGetValueW(key.get(), nullptr, L"\x65e5\x672cTool", RRF_RT_REG_SZ, nullptr, wide, &size), 0);
    EXPECT_STREQ(wide, L"C:\\\x4ea7\x54c1\\\x65e5\x672cTool.exe") << "the same REG_SZ data the system writes";
    size = sizeof wide;
    const std::wstring lone(loneUnits.begin(), loneUnits.end());
    ASSERT_EQ(RegGetValueW(key.get(), nullptr, lone.c_str(), RRF_RT_REG_SZ, nullptr, wide, &size), 0)
        << "an unpaired surrogate names the same value";

    std::vector<RegKey::Value> values;
    ASSERT_EQ(key.Values(values), 0);
    ASSERT_EQ(values.size(), std::size(names));
    for (const RegKey::Value& value : values)
        EXPECT_EQ(RegStringData(value.data), "C:\\\xe4\xba\xa7\xe5\x93\x81\\" + value.name + ".exe");
    std::vector<std::string> subKeys;
    ASSERT_EQ(key.SubKeyNames(subKeys), 0);
    EXPECT_EQ(subKeys.size(), std::size(names) - 1);
    for (const std::string& name : subKeys) {
        EXPECT_TRUE(RegKey::Exists(HKEY_CURRENT_USER, std::string(TestKey) + "\\" + name)) << name;
        EXPECT_EQ(key.ReadString(name).value_or("?"), "C:\\\xe4\xba\xa7\xe5\x93\x81\\" + name + ".exe");
    }
    EXPECT_NE(std::find(subKeys.begin(), subKeys.end(), Utf8FromUtf16(loneUnits)), subKeys.end());
}

// Value names end at 16 383 characters, key names earlier: longer ones are
// refused with an error code, and nothing else changes.
TEST_F(RegKeyTest, NamesBeyondTheLimitsAreRefusedWithoutHarm)
{
    const std::string longest(16383, 'n');
    ASSERT_EQ(key.WriteString(longest, "x"), 0);
    EXPECT_EQ(key.ReadString(longest).value_or("?"), "x");
    std::string cyrillic;
    for (int i = 0; i < 32767; ++i)
        cyrillic += "\xd0\x96";
    for (const std::string& name : {std::string(32767, 'n'), cyrillic}) {
        EXPECT_NE(key.WriteString(name, "x"), 0);
        EXPECT_FALSE(key.ReadString(name));
        EXPECT_FALSE(RegKey::Create(HKEY_CURRENT_USER, std::string(TestKey) + "\\" + name, KEY_WRITE));
    }
    std::vector<RegKey::Value> values;
    ASSERT_EQ(key.Values(values), 0);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, longest);
}

TEST_F(RegKeyTest, DeleteTreeRemovesNestedKeys)
{
    ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, std::string(TestKey) + "\\a\\b\\c", KEY_WRITE));
    ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, std::string(TestKey) + "\\d", KEY_WRITE));
    std::vector<std::string> names;
    ASSERT_EQ(key.SubKeyNames(names), 0);
    EXPECT_EQ(names.size(), 2u);
    key = RegKey();
    EXPECT_EQ(RegKey::DeleteTree(HKEY_CURRENT_USER, TestKey), 0);
    EXPECT_FALSE(RegKey::Exists(HKEY_CURRENT_USER, TestKey));
    EXPECT_NE(RegKey::DeleteTree(HKEY_CURRENT_USER, "\\"), 0);  // never the root itself
}
