// The record kept beside a cut download: what is written reads back, and
// anything else (a cut, garbled or hostile record) is no record at all, so
// the download starts over.
#include "update/auResume.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Resume, TheRecordReadsBackAndAnyOtherTextIsNone)
{
    const TauResumeRecord record{"https://h/app%20x.exe?a=b", std::string(31, '\x7f') + '\x01',
                                 "\"5f2-1a\"", 2000000};
    const std::string text = ResumeRecordText(record);
    ASSERT_FALSE(text.empty());
    const auto read = ParseResumeRecord(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->url, record.url);
    EXPECT_EQ(read->sha256, record.sha256);
    EXPECT_EQ(read->validator, record.validator);
    EXPECT_EQ(read->length, record.length);
    EXPECT_EQ(ParseResumeRecord(ResumeRecordText({"u", record.sha256, "Wed, 09 Dec 2026 15:45:25 GMT", 1}))->validator,
              "Wed, 09 Dec 2026 15:45:25 GMT");

    // Nothing that could not be read back is written.
    EXPECT_EQ(ResumeRecordText({"a\nlength\t9", record.sha256, "v", 1}), "");
    EXPECT_EQ(ResumeRecordText({"u", record.sha256, "", 1}), "");
    EXPECT_EQ(ResumeRecordText({"u", "short", "v", 1}), "");
    EXPECT_EQ(ResumeRecordText({"u", record.sha256, "v", 0}), "");

    for (std::size_t cut = 0; cut < text.size(); ++cut)
        EXPECT_FALSE(ParseResumeRecord(text.substr(0, cut))) << cut;
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    const std::vector<std::string> bad = {
        text + "more\n",
        replaced("keldora-resume 1", "keldora-resume 2"),
        replaced("length\t2000000", "length\t0"),
        replaced("length\t2000000", "length\t02000000"),
        replaced("length\t2000000", "length\t-1"),
        replaced("length\t2000000", "length\t99999999999999999999"),
        replaced("length\t2000000", "length 2000000"),
        replaced("\"5f2-1a\"", ""),
        replaced("url\t", "address\t"),
        replaced("7f7f", "7g7f"),
        replaced("\n", "\r\n"),
        std::string(1 << 12, '\0'),
    };
    for (const std::string& garbled : bad)
        EXPECT_FALSE(ParseResumeRecord(garbled)) << garbled;
}

}  // namespace
