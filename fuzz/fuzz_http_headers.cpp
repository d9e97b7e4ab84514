#include "http/HttpHeaders.h"
#include "FuzzRequire.h"
#include "http/HttpStatus.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void CheckByteCount(std::string_view text)
{
    const auto count = ParseByteCount(text);
    if (!count)
        return;
    Require(*count >= 0, "byte count negative");
    const std::string digits = std::to_string(*count);
    Require(text.find(digits) != std::string_view::npos || text.find('0') != std::string_view::npos,
            "byte count not in the text");
}

void CheckRange(std::string_view text)
{
    const auto range = ParseContentRange(text);
    if (!range)
        return;
    Require(range->first || range->total, "range without any number");
    if (range->first)
        Require(*range->first >= 0 && *range->first <= range->last, "range order");
    if (range->total)
        Require(*range->total >= 0 && (!range->first || range->last < *range->total), "range beyond total");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string name = input.ConsumeRandomLengthString(32);
    const std::string raw = input.ConsumeRemainingBytesAsString();

    const int status = StatusCodeOf(raw);
    Require(status == 0 || (status >= 100 && status <= 999), "status code range");

    if (const auto length = ContentLengthOf(raw))
        Require(*length >= 0, "content length negative");
    if (const auto value = HeaderValue(raw, name)) {
        Require(value->size() <= raw.size(), "value longer than the block");
        Require(value->find('\n') == std::string::npos, "value spans lines");
    }

    const std::string validator = RangeValidator(raw);
    Require(validator.find('\n') == std::string::npos && !validator.starts_with("W/"),
            "an If-Range validator that cannot stand for the same bytes");

    CheckByteCount(raw);
    CheckRange(raw);
    Require(RealmOf(raw).size() <= raw.size(), "realm longer than the header");
    Require(RedirectTarget(raw.data(), raw.size()).size() <= raw.size(), "redirect target past the buffer");
    return 0;
}
