#include "core/ApprovalValue.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

std::string Choice(unsigned char first, std::size_t size = kMinApprovalSize)
{
    std::string bytes(size, '\x11');
    if (size > 0)
        bytes[0] = static_cast<char>(first);
    return bytes;
}

} // namespace

TEST(ApprovalValue, OddFirstByteDisablesAndAnythingElseIsNoChoiceOrEnabled)
{
    EXPECT_EQ(ApprovalOf(true, Choice(0x02)), TApproval::apEnabled);
    EXPECT_EQ(ApprovalOf(true, Choice(0x06)), TApproval::apEnabled);
    EXPECT_EQ(ApprovalOf(true, Choice(0x03)), TApproval::apDisabled);
    EXPECT_EQ(ApprovalOf(true, Choice(0x07)), TApproval::apDisabled);
    EXPECT_EQ(ApprovalOf(true, Choice(0x00)), TApproval::apEnabled) << "unknown bytes count as enabled";
    EXPECT_EQ(ApprovalOf(true, Choice(0x10)), TApproval::apEnabled);
    EXPECT_EQ(ApprovalOf(true, Choice(0x03, 13)), TApproval::apDisabled) << "more than a FILETIME";
    EXPECT_EQ(ApprovalOf(true, Choice(0x03, kMaxApprovalSize)), TApproval::apDisabled);
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{11}, kMaxApprovalSize + 1})
        EXPECT_EQ(ApprovalOf(true, Choice(0x03, size)), TApproval::apNone) << size;
    EXPECT_EQ(ApprovalOf(false, Choice(0x03)), TApproval::apNone) << "not binary";
}

TEST(ApprovalValue, HexTextRoundTripsAndRejectsAnythingElse)
{
    const std::string bytes = "\x03\x00\xff\x7f\x80\x01\x02\x03\x04\x05\x06\x07"s;
    EXPECT_EQ(ApprovalHex(bytes), "0300FF7F8001020304050607");
    EXPECT_EQ(ApprovalFromHex("0300FF7F8001020304050607"), bytes);
    EXPECT_EQ(ApprovalFromHex("0300ff7f8001020304050607"), bytes) << "either case";
    for (const char* bad : {"", "03", "0300FF7F800102030405060", "0300FF7F80010203040506ZZ", "0300FF7F 8001020304050607",
                            "-300FF7F8001020304050607"})
        EXPECT_FALSE(ApprovalFromHex(bad)) << bad;
    EXPECT_FALSE(ApprovalFromHex(std::string(2 * kMaxApprovalSize + 2, '0')));
}
