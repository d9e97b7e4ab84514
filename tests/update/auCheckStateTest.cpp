// What a check keeps between checks: validators and Retry-After from a
// server, and the state file that holds them, never trusting a bad value.
#include "update/auCheckState.h"
#include "http/HttpDate.h"
#include "update/auRollout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::int64_t Now = *HTTPDateToUTCSeconds("Tue, 08 Dec 2026 12:00:00 GMT");

std::string Headers(const std::string& lines)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n" + lines + "\r\n";
}

TEST(CheckState, ValidatorsOfAnAnswerAreTakenOnlyWhenWellFormed)
{
    const TauCheckState good =
        ValidatorsOf(Headers("ETag: \"5-abc\"\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"), Now);
    EXPECT_EQ(good.etag, "\"5-abc\"");
    EXPECT_EQ(good.lastModified, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(ConditionalHeaders(good), (std::vector<std::string>{"If-None-Match: \"5-abc\"",
                                                                  "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT"}));
    EXPECT_EQ(ValidatorsOf(Headers("ETag: W/\"weak\"\r\n"), Now).etag, "W/\"weak\"");
    EXPECT_TRUE(ConditionalHeaders(ValidatorsOf(Headers(""), Now)).empty()) << "nothing to ask with";

    for (const std::string& etag : std::vector<std::string>{"unquoted", "\"a\"b\"", "\"\x01\"", "\"open", "\"caf\xC3\xA9\"", "W/unquoted",
                                    "\"" + std::string(ValidatorLimit, 'x') + "\""})
        EXPECT_EQ(ValidatorsOf(Headers("ETag: " + etag + "\r\n"), Now).etag, "") << etag;
    for (const std::string& date : {std::string("yesterday"), std::string("Sat, 08 Dec 2027 12:00:00 GMT"),
                                    std::string(ValidatorLimit + 1, '1')})
        EXPECT_EQ(ValidatorsOf(Headers("Last-Modified: " + date + "\r\n"), Now).lastModified, "")
            << date.substr(0, 40) << ": garbled, in the future or too long";
}

TEST(CheckState, RetryAfterInSecondsOrAsADateWithinAWeek)
{
    EXPECT_EQ(RetryAfterUntil("120", Now), Now + 120);
    EXPECT_EQ(RetryAfterUntil("Tue, 08 Dec 2026 13:00:00 GMT", Now), Now + 3600);
    EXPECT_EQ(RetryAfterUntil(std::to_string(RetryAfterLimitSeconds), Now), Now + RetryAfterLimitSeconds);
    for (const char* bad : {"", "0", "-5", "+5", "1.5", " 5", "soon", "99999999999999999999999", "604801",
                            "Tue, 08 Dec 2026 11:59:59 GMT", "Tue, 08 Dec 2026 12:00:00 GMT",
                            "Wed, 16 Dec 2026 12:00:00 GMT"})
        EXPECT_EQ(RetryAfterUntil(bad, Now), std::nullopt) << bad << ": garbled, past or huge";
}

TEST(CheckState, TheStateFileKeepsGoodValuesAndDropsTheRest)
{
    const TauCheckState state{"\"5-abc\"", "Sun, 06 Nov 1994 08:49:37 GMT", Now + 60, {}, Now - 60};
    EXPECT_EQ(CheckStateFromText(CheckStateText(state), Now), state);
    EXPECT_EQ(CheckStateText({}), "");
    EXPECT_EQ(CheckStateFromText(CheckStateText(state), Now + 60).retryAfter, 0) << "a wait that is over";
    EXPECT_EQ(CheckStateFromText("retryafter=" + std::to_string(Now + RetryAfterLimitSeconds + 1) + "\n", Now),
              TauCheckState{}) << "a wait longer than a server may ask";
    EXPECT_EQ(CheckStateFromText("etag=bad\nlastmodified=never\nretryafter=soon\n", Now), TauCheckState{});
    EXPECT_EQ(CheckStateFromText(CheckStateText(state) + std::string(UpdateStateLimit, '#'), Now), TauCheckState{})
        << "an oversized file is ignored whole";
    EXPECT_EQ(CheckStateFromText("machine=0123456789abcdef0123456789abcdef\r\netag=\"x\"\r\nkeptat=" +
                                     std::to_string(Now) + "\r\n",
                                 Now)
                  .etag,
              "\"x\"");
    // Validators of no known time, or older than a day, are not used: a
    // replayed answer cannot keep the server's 304 hiding a release.
    EXPECT_EQ(CheckStateFromText("etag=\"x\"\r\n", Now).etag, "");
    EXPECT_EQ(CheckStateFromText(CheckStateText(state), Now + ValidatorLifetimeSeconds - 60).etag, "\"5-abc\"");
    EXPECT_EQ(CheckStateFromText(CheckStateText(state), Now + ValidatorLifetimeSeconds - 59).etag, "")
        << "a day and a second old";
    EXPECT_EQ(ValidatorsOf(Headers("ETag: \"5-abc\"\r\n"), Now).keptAt, Now);

    const std::string address = "https://updates.example.com/info.txt";
    const std::string name = CheckStateFileName(address, "Keldora Agent");
    EXPECT_EQ(name, CheckStateFileName(address, "KELDORA agent"));
    EXPECT_NE(name, CheckStateFileName(address, "Keldora Agent 2"));
    EXPECT_EQ(CheckStateFileName(address, "..\\..\\x:y*?").find_first_not_of("abcdefhkst0123456789-."),
              std::string::npos);
    EXPECT_EQ(name.size(), std::string("check-0123456789abcdef.state").size());
}

TEST(CheckState, AStoredStateServesOnlyItsOwnCheck)
{
    const TauCheckOwner owner{"https://a.example.com/info.txt", "Keldora", "1.0"};
    const TauCheckState stored{"\"5-abc\"", "Sun, 06 Nov 1994 08:49:37 GMT", Now + 3 * 24 * 3600, owner, Now};
    EXPECT_EQ(CheckStateFromText(CheckStateText(stored), Now), stored) << "the owner reads back";
    EXPECT_EQ(StateForCheck(stored, owner, Now), stored);
    EXPECT_EQ(StateForCheck(stored, {owner.address, "KELDORA", "1.0"}, Now), (TauCheckState{stored.etag,
              stored.lastModified, stored.retryAfter, {owner.address, "KELDORA", "1.0"}, Now}));
    const TauCheckOwner older{owner.address, owner.product, "0.9"};
    EXPECT_EQ(StateForCheck(stored, older, Now), (TauCheckState{"", "", stored.retryAfter, older}))
        << "another version: the server's wait only";
    for (const TauCheckOwner& other : {TauCheckOwner{"https://b.example.com/info.txt", "Keldora", "1.0"},
                                       TauCheckOwner{owner.address, "", "1.0"}})
        EXPECT_EQ(StateForCheck(stored, other, Now), (TauCheckState{"", "", 0, other})) << other.address;
    const TauCheckOwner plain{"http://a.example.com/info.txt", "Keldora", "1.0"};
    TauCheckState plainStored = stored;
    plainStored.owner = plain;
    EXPECT_EQ(StateForCheck(plainStored, plain, Now).retryAfter, Now + PlainRetryAfterLimitSeconds);
    EXPECT_EQ(CheckStateFromText(CheckStateText(plainStored), Now).retryAfter, 0)
        << "a stored plain-http wait past a day is anyone's: dropped, not shortened";
    plainStored.owner.address += "\n";
    EXPECT_EQ(CheckStateFromText(CheckStateText(plainStored), Now).owner, TauCheckOwner{})
        << "an owner line that would break the file is not written";
}

} // namespace
