#pragma once
// Which releases the engine may install, as rules on text: what a signed
// information file must agree with (its product, its expiry, its version's
// form), and where a release that no signature covers must come from.
// Platform-free: no <windows.h> here; every function accepts any text.

#include "update/auInfoFile.h"
#include "update/auVersion.h"

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A moment in UTC, to the second.
struct TauUtcTime {
    TauCalendarDate date;
    int hour = 0;
    int minute = 0;
    int second = 0;
    auto operator<=>(const TauUtcTime&) const = default;
};

// Exactly "YYYY-MM-DDTHH:MM:SSZ" (capital T and Z, no blanks) naming a day
// of the calendar and a time of 00:00:00 to 23:59:59; nothing otherwise.
std::optional<TauUtcTime> ParseUtcTime(std::string_view text);

// Product names are the same when they differ at most in the case of ASCII
// letters (blanks count).
bool SameProductName(std::string_view a, std::string_view b);

// What a signed information file is checked against on this machine.
struct TauReleaseExpectation {
    // The product update.ini names; empty: any product.
    std::string product;
    TauUtcTime now;
    // The version decides (byNumber): it must be a plain version.
    bool numberedVersion = false;
};

// Why the signed text may not be used here; empty when it may: the first
// failure of the three rules below that apply (the version rule only with
// numberedVersion).
std::string SignedReleaseFailure(const TauInfoFileText& info, const TauReleaseExpectation& here);
// With a product expected, "#product=" must be there and equal to it,
// ignoring the case of ASCII letters (blanks count). Empty when it is.
std::string ProductFailure(const TauInfoFileText& info, const std::string& product);
// "#expires=", when there at all, must be a time ParseUtcTime reads and not
// before `now`. Empty when it is.
std::string ExpiryFailure(const TauInfoFileText& info, const TauUtcTime& now);
// "#version=" must be a plain version (IsPlainVersion). Empty when it is.
std::string VersionFormFailure(const TauInfoFileText& info);

// "#rollout=": the share of installed copies, in percent, that take the
// release; 100 when the key is missing. Nothing for a value that is not one
// to three decimal digits (no sign, no blank) naming 0 to 100.
std::optional<int> RolloutPercent(const TauInfoFileText& info);

// Where a transfer came from, as far as https goes: the first address on its
// way (the address asked for, each redirect, the final address) that is no
// https address, or the final address when every one is.
std::string TransferSource(std::string_view requested, const std::vector<std::string>& redirects,
                           std::string_view final);

// Why a release that no signature covers may not be installed; empty when
// its information file and every listed file came over https. `infoSource`
// is where the information file came from (TransferSource).
std::string UnverifiedReleaseFailure(std::string_view infoSource, const std::vector<std::string>& files);
