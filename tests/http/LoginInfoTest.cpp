#include "http/LoginInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LoginInfo, StoredFormIsLengthThenMaskedRecord)
{
    const auto block = EncodeLoginInfo("ab", "c");
    ASSERT_TRUE(block);
    // L = 4, mask = 4 xor 0xA7 = 0xA3.
    EXPECT_EQ(*block, std::string("\x04\xA1\xC2\xC1\xC0", 5));
}

TEST(LoginInfo, RoundTrips)
{
    for (const auto& [user, pass] : {std::pair<std::string, std::string>{"", ""},
                                     {"user", ""},
                                     {"", "secret"},
                                     {"admin", "p\xE4ss\x01"},
                                     {std::string(127, 'u'), std::string(127, 'p')}}) {
        const auto block = EncodeLoginInfo(user, pass);
        ASSERT_TRUE(block);
        const auto info = DecodeLoginInfo(*block);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->username, user);
        EXPECT_EQ(info->password, pass);
    }
}

TEST(LoginInfo, TooLongToStore)
{
    EXPECT_FALSE(EncodeLoginInfo(std::string(127, 'u'), std::string(128, 'p')));
    EXPECT_FALSE(EncodeLoginInfo(std::string(300, 'u'), ""));
}

TEST(LoginInfo, MalformedBlocksAreRejected)
{
    const std::string good = *EncodeLoginInfo("user", "pw");
    EXPECT_FALSE(DecodeLoginInfo(""));
    EXPECT_FALSE(DecodeLoginInfo(std::string(1, '\0')));
    EXPECT_FALSE(DecodeLoginInfo(good.substr(0, good.size() - 1))) << "stored length beyond the block";
    EXPECT_FALSE(DecodeLoginInfo(good + "x"));
    EXPECT_FALSE(DecodeLoginInfo(std::string("\xFF", 1)));

    // A user name length larger than the record: L = 2, length byte 5.
    const char mask = static_cast<char>(2 ^ 0xA7);
    EXPECT_FALSE(DecodeLoginInfo(std::string{'\x02', static_cast<char>(5 ^ mask), static_cast<char>('a' ^ mask)}));
}

}  // namespace
