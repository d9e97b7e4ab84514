#include "winutil/ProfileFile.h"

#include "common/ScratchFolder.h"
#include "core/Utf8.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

namespace {

// "Jörg" as older versions wrote it: one byte in the ANSI code page (1252 here).
const char* const AnsiFile = "[Person]\r\nName=J\xF6rg\r\n; kept as it is\r\n[Other]\r\nKeep=1\r\n";
const std::string Japanese = "\xe6\x97\xa5\xe6\x9c\xac";
const std::string Russian = "\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd1\x8b";

std::string Bytes(const std::string& path)
{
    return ReadWholeFile(path, 1 << 20).value_or("(unreadable)");
}

// What the system's own ANSI profile function reads, as other programs of the product do.
std::string ReadWithAnsiCall(const std::string& path, const char* section, const char* key)
{
    char value[64] = {};
    GetPrivateProfileStringA(section, key, "", value, sizeof value, path.c_str());
    return value;
}

} // namespace

TEST(ProfileFile, AnsiFileIsReadAndTurnsUtf16KeepingEverythingWhenTextNeedsIt)
{
    const ScratchFolder scratch("kdProfile");
    const std::string path = scratch.AddFile("Keldora.ini", AnsiFile);
    const ProfileFile ini(path);
    EXPECT_EQ(ini.ReadString("Person", "Name"), "J\xc3\xb6rg");

    ASSERT_TRUE(ini.WriteString("Person", "City", "M\xc3\xbcnchen"));
    EXPECT_EQ(ProfileEncodingOf(Bytes(path)), ProfileEncoding::Ansi) << "the code page holds German";
    EXPECT_NE(Bytes(path).find("City=M\xFCnchen"), std::string::npos);

    ASSERT_TRUE(ini.WriteString("Person", "Origin", Japanese));
    const std::string converted = Bytes(path);
    EXPECT_EQ(converted.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(ProfileEncodingOf(converted), ProfileEncoding::Utf16);
    EXPECT_NE(ProfileTextFromBytes(converted).find("; kept as it is"), std::string::npos);
    EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Person", "Other"}));
    EXPECT_EQ(ini.ReadString("Person", "Name"), "J\xc3\xb6rg");
    EXPECT_EQ(ini.ReadString("Person", "City"), "M\xc3\xbcnchen");
    EXPECT_EQ(ini.ReadString("Person", "Origin"), Japanese);
    EXPECT_EQ(ini.ReadInteger("Other", "Keep", 0), 1);
    EXPECT_EQ(ReadWithAnsiCall(path, "Person", "Name"), "J\xF6rg") << "the ANSI functions read UTF-16 files too";
    EXPECT_EQ(ReadWithAnsiCall(path, "Other", "Keep"), "1");
    EXPECT_FALSE(PathExists(path + ".utf16")) << "no conversion file is left";

    // Once UTF-16, always UTF-16: plain text keeps the encoding, names in any script work.
    ASSERT_TRUE(ini.WriteString("Other", "Plain", "x"));
    ASSERT_TRUE(ini.WriteSection(Russian, {{"Desc", Russian}, {"Order", "3"}}));
    const std::string lone = Utf8FromUtf16(std::u16string(u"Tool") + char16_t(0xDC00));
    ASSERT_TRUE(ini.WriteString(lone, lone, lone + " "));
    EXPECT_EQ(ProfileEncodingOf(Bytes(path)), ProfileEncoding::Utf16);
    EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Person", "Other", Russian, lone}));
    EXPECT_EQ(ini.ReadString(Russian, "Desc"), Russian);
    EXPECT_EQ(ini.ReadString(lone, lone), lone + " ") << "an unpaired surrogate comes back exactly";
    EXPECT_EQ(ini.ReadString("Person", "Name"), "J\xc3\xb6rg");
}

TEST(ProfileFile, NewFileIsAnsiUntilItsTextNeedsMore)
{
    const ScratchFolder scratch("kdProfile");
    const ProfileFile plain(scratch.PathOf("plain.ini"));
    ASSERT_TRUE(plain.WriteString("Setup", "ShowIcon", "1"));
    EXPECT_EQ(Bytes(plain.path()).substr(0, 8), "[Setup]\r");

    const ProfileFile wide(scratch.PathOf(Russian + ".ini"));
    ASSERT_TRUE(wide.WriteSection(Japanese + "Tool.lnk", {{"Desc", Japanese + "Tool.lnk"}, {"Enable", "1"}}));
    EXPECT_EQ(ProfileEncodingOf(Bytes(wide.path())), ProfileEncoding::Utf16);
    EXPECT_EQ(wide.SectionNames(), (std::vector<std::string>{Japanese + "Tool.lnk"}));
    EXPECT_EQ(wide.ReadString(Japanese + "Tool.lnk", "Desc"), Japanese + "Tool.lnk");
    EXPECT_TRUE(wide.HasSection(Japanese + "Tool.lnk"));
    EXPECT_TRUE(wide.EraseSection(Japanese + "Tool.lnk"));
    EXPECT_TRUE(wide.SectionNames().empty());
}

// The conversion writes a new file and moves it over the old one: what a
// crash or a failure leaves is the old file whole, never a part of either.
TEST(ProfileFile, ConversionThatCannotFinishLeavesTheOldFileWhole)
{
    const ScratchFolder scratch("kdProfile");
    const std::string path = scratch.AddFile("config.dat", AnsiFile);
    const ProfileFile ini(path);

    // What a crash after writing part of the new file leaves beside the old one.
    scratch.AddFile("config.dat.utf16", std::string_view("\xFF\xFE[\0Pe", 6));
    ASSERT_TRUE(ini.WriteString("Person", "Origin", Japanese));
    EXPECT_EQ(ini.ReadString("Person", "Name"), "J\xc3\xb6rg");
    EXPECT_EQ(ini.ReadString("Other", "Keep"), "1");
    EXPECT_FALSE(PathExists(path + ".utf16"));
    EXPECT_FALSE(GetFileAttributesW(WideFromUtf8(path).c_str()) & FILE_ATTRIBUTE_HIDDEN);

    // Another program holds the old file without letting it be replaced.
    const std::string held = scratch.AddFile("held.ini", AnsiFile);
    const UniqueFile holder(CreateFileW(WideFromUtf8(held).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(ProfileFile(held).WriteString("Person", "Origin", Japanese));
    EXPECT_EQ(Bytes(held), AnsiFile);
    EXPECT_FALSE(PathExists(held + ".utf16"));
}

TEST(ProfileFile, CodecFollowsTheEncodingRule)
{
    EXPECT_EQ(ProfileTextFromBytes("[A]\r\nB=J\xF6rg\r\n"), "[A]\r\nB=J\xc3\xb6rg\r\n");
    EXPECT_EQ(ProfileTextFromBytes(std::string("\xFF\xFE[\0A\0]\0x", 9)), "[A]") << "an odd last byte is dropped";
    EXPECT_EQ(ProfileTextFromBytes(std::string("\xFF\xFE", 2)), "");
    EXPECT_EQ(ProfileBytesFromText("B=J\xc3\xb6rg", ProfileEncoding::Ansi), "B=J\xF6rg");
    const std::string utf16("\xFF\xFE" "B\0=\0J\0\xF6\0r\0g\0", 14);
    EXPECT_EQ(ProfileBytesFromText("B=J\xc3\xb6rg", ProfileEncoding::Utf16), utf16);
    EXPECT_EQ(ProfileBytesFromText(Japanese, ProfileEncoding::Ansi).substr(0, 2), "\xFF\xFE");
    EXPECT_TRUE(FitsAnsiCodePage("J\xc3\xb6rg \xe2\x82\xac"));
    EXPECT_FALSE(FitsAnsiCodePage(Russian));
    EXPECT_FALSE(FitsAnsiCodePage(Utf8FromUtf16(std::u16string(1, char16_t(0xD800)))));
    EXPECT_FALSE(FitsAnsiCodePage("\xff")) << "bytes that are no UTF-8 are no text of ours";
    for (const std::string& text : {std::string("J\xc3\xb6rg ") + Japanese, Russian, std::string("plain")})
        EXPECT_EQ(ProfileTextFromBytes(ProfileBytesFromText(text, ProfileEncoding::Ansi)), text);
}

TEST(ProfileFile, OneReadOfTheWholeFileReadsWhatTheSystemReads)
{
    // Blanks, quotes, case, repeated names, lines without a value, keys
    // above the first header and brackets inside names, in both encodings.
    const std::string text =
        "top=above\r\n"
        "[Plain]\r\nName=value\r\n  Spaced  =  both sides  \r\nQuoted=\" kept blanks \"\r\n"
        "Single='x'\r\nHalf=\"open\r\nOdd=\"a'\r\nEmpty=\r\nNoEquals\r\nNoEquals=later\r\n; Comment=1\r\nname=second\r\n"
        "[  padded  ]\r\nk=1\r\n"
        "[plain]\r\nName=repeat\r\nOnlyHere=2\r\n"
        "[a]b.txt]\r\nk=bracket\r\n"
        "[open\r\nk=unclosed\r\n"
        "[Unicode \xe6\x97\xa5\xe6\x9c\xac]\r\nk=\xd0\x9f\xd1\x80\xd0\xbe\r\n"
        "\n[Bare LF]\nk=lf\n\t[Tab]\t\nk = tab \nLone=cr\r[After CR]\rk=cr\r\n";
    const std::vector<std::string> keys = {"Name", "name", "Spaced", "Quoted", "Single", "Half", "Odd", "Empty",
                                           "NoEquals", "; Comment", "Comment", "OnlyHere", "k", "top", "Lone", "Absent"};
    const ScratchFolder scratch("kdProfileAll");
    for (const bool utf16 : {false, true}) {
        const std::string path = scratch.AddFile(utf16 ? "wide.ini" : "ansi.ini",
                                                 ProfileBytesFromText(text, utf16 ? ProfileEncoding::Utf16
                                                                                  : ProfileEncoding::Ansi));
        const ProfileFile ini(path);
        const std::optional<ProfileSections> all = ini.ReadAll();
        ASSERT_TRUE(all) << utf16;
        std::vector<std::string> names;
        for (const ProfileSection& section : all->All())
            names.push_back(section.name);
        const std::vector<std::string> systemNames = ini.SectionNames();
        EXPECT_EQ(names, systemNames) << utf16;
        for (const std::string& section : systemNames)
            for (const std::string& key : keys) {
                const ProfileSection* read = all->First(section);
                ASSERT_NE(read, nullptr) << section;
                EXPECT_EQ(read->Value(key).has_value(), ini.HasKey(section, key)) << section << "/" << key << utf16;
                EXPECT_EQ(read->Value(key).value_or(""), ini.ReadString(section, key)) << section << "/" << key;
            }
    }
    EXPECT_EQ(ProfileFile(scratch.Path() + "\\missing.ini").ReadAll()->All().size(), 0u);
    EXPECT_FALSE(ProfileFile(scratch.Path()).ReadAll()) << "a folder is no profile file";
}
