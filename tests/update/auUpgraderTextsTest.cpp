#include "update/auAutoUpgrader.h"
#include "update/auUpgraderTexts.h"

#include "HttpTestServer.h"
#include "common/Environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

// The source the test carries in its resources.
std::string SourceAsWritten()
{
    const HRSRC found = FindResourceW(nullptr, L"MESSAGES_AS_WRITTEN", MAKEINTRESOURCEW(10));
    const HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    if (!loaded)
        return {};
    return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(nullptr, found));
}

// The resource source's strings by identifier, unescaped as the resource
// compiler reads them, in UTF-8.
std::map<unsigned, std::string> TableAsWritten()
{
    const std::string source = SourceAsWritten();
    std::map<unsigned, std::string> table;
    std::size_t at = 0;
    while (at < source.size()) {
        std::size_t end = source.find('\n', at);
        if (end == std::string::npos)
            end = source.size();
        const std::string line = source.substr(at, end - at);
        at = end + 1;
        unsigned id = 0;
        int textStart = 0;
        if (std::sscanf(line.c_str(), " %u, \"%n", &id, &textStart) != 1 || textStart == 0)
            continue;
        std::string text;
        for (std::size_t i = static_cast<std::size_t>(textStart); i + 1 < line.size(); ++i) {
            if (line[i] == '"' && line[i + 1] == '"') {
                text += '"';
                ++i;
            } else if (line[i] == '\\') {
                const char escaped = line[++i];
                text += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped == 't' ? '\t' : escaped;
            } else {
                text += line[i];
            }
        }
        table[id] = text;
    }
    return table;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

TEST(UpgraderTexts, EveryMessageComesBackExactlyAsWritten)
{
    const auto table = TableAsWritten();
    ASSERT_EQ(table.size(), 25u * UpgraderMessageCount + 1);
    EXPECT_EQ(Utf8(ResourceTextW(UpgraderComponentNameId)), table.at(UpgraderComponentNameId));
    for (int k = wlEnglish; k <= wlIcelandic; ++k) {
        const unsigned block = UpgraderBlockStart(static_cast<TauAutoUpgraderLanguage>(k));
        for (unsigned n = 0; n < UpgraderMessageCount; ++n) {
            const auto written = table.find(block + n);
            ASSERT_NE(written, table.end()) << "language " << k << " message " << n;
            EXPECT_FALSE(written->second.empty());
            EXPECT_EQ(Utf8(ResourceTextW(block + n)), written->second) << block + n;
        }
    }
    EXPECT_EQ(ResourceTextW(41000 + UpgraderMessageCount), L"") << "nothing between the blocks";
}

TEST(UpgraderTexts, EnglishTextsAndTheirLineBreaks)
{
    TauAutoUpgrader engine;
    engine.Wizard.SetLanguage(wlEnglish);
    EXPECT_EQ(UpgraderBlock(), 41000u);
    EXPECT_EQ(UpgraderText(umsgCaption), L"Application update wizard");
    EXPECT_EQ(UpgraderText(umsgNoUpdate),
              L"Newer version not found. You actually are\rusing most recent version of this program.");
    EXPECT_EQ(UpgraderText(23),
              L"A newer version of %s was released.\n%s\nDo you want to update your version with the latest one?");
    EXPECT_EQ(UpgraderText(umsgHostUnreachable, {L"'http://example.com'"}),
              L"Host 'http://example.com' unreachable.\r\rPlease check your Internet connection and\rtry to upgrade "
              L"this software again later.");
    EXPECT_EQ(UpgraderText(umsgPasswordProtected, {L"%s%d.zip"}).substr(0, 32), L"Access to remote file \"%s%d.zip\"")
        << "arguments are not formats";
    EXPECT_EQ(UpgraderText(6), L"File size: %.1f Kb");
    EXPECT_EQ(UpgraderText(umsgReleaseRefused, {L"the information file expired"}),
              L"The update was refused because it could not be verified as a genuine release of this program. "
              L"Nothing has been installed.\r\rReason: the information file expired");

    engine.Wizard.SetLanguage(wlRussian);
    EXPECT_EQ(UpgraderBlock(), 41050u);
    EXPECT_EQ(UpgraderText(umsgYes), L"&\x0414\x0430");
    engine.Wizard.SetLanguage(wlChineseSimplified);
    EXPECT_EQ(UpgraderText(umsgCancel), L"\x53d6\x6d88(&C)");
    engine.Wizard.SetLanguage(wlAuto);
    EXPECT_EQ(engine.Wizard.Language(), wlAuto) << "the setting keeps wlAuto; only the block is resolved";
}

// Run once per language by CTest in a program started with LANG (and the
// locale folder LOCPATH) set, KELDORA_EXPECTED_LANGUAGE naming the ordinal
// of the language that system must choose.
TEST(UpgraderTexts, DISABLED_SystemLanguageChoosesTheBlock)
{
    const std::string expected = GetEnvVar("KELDORA_EXPECTED_LANGUAGE");
    if (expected.empty())
        GTEST_SKIP() << "run by CTest with LANG set";
    const auto language = static_cast<TauAutoUpgraderLanguage>(std::atoi(expected.c_str()));
    ASSERT_EQ(LanguageFromLangId(GetSystemDefaultLangID()), language)
        << "system language " << std::hex << GetSystemDefaultLangID() << "; is the host locale there?";
    TauAutoUpgrader engine;
    ASSERT_EQ(UpgraderBlock(), UpgraderBlockStart(language));
    const auto table = TableAsWritten();
    for (unsigned n = 0; n < UpgraderMessageCount; ++n)
        EXPECT_EQ(Utf8(UpgraderText(n)), table.at(UpgraderBlock() + n)) << n;
}

}  // namespace
