#pragma once
// The parts of a request that follow from the settings alone: the address,
// the extra header text and the credentials of an address.
// Platform-free: no <windows.h> here.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// An address without "://" is taken as http.
std::string RequestURL(std::string_view url);

// Each extra line followed by CR LF, then "RANGE: bytes=start-[end]" when
// either bound is not 0 (an end of 0 leaves the range open). Negative
// bounds count as 0.
std::string RequestHeaderText(const std::vector<std::string>& addHeaders, std::int64_t startRange,
                              std::int64_t endRange);

// Decodes %XX escapes (user name and password of an address, the name of a
// download); a '%' that does not start a valid escape stays as it is.
std::string PercentDecode(std::string_view text);
