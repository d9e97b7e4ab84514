#include "winutil/RegKey.h"

#include <gtest/gtest.h>

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
    const char raw[] = {'a', 'b', 'c'};
    ASSERT_EQ(RegSetValueExA(key.get(), "bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(raw), sizeof raw), 0);
    EXPECT_EQ(key.ReadString("bare").value_or("?"), "abc");

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
