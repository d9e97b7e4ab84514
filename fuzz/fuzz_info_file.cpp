#include "update/auInfoFile.h"
#include "update/auVersion.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string running = input.ConsumeRandomLengthString(32);
    const std::string text = input.ConsumeRemainingBytesAsString();

    const TauInfoFileText info(text);
    const std::string version = info.Value("version");
    Require(version.size() <= text.size(), "value longer than the text");
    for (char c : version)
        Require(static_cast<unsigned char>(c) >= 32, "control character in a line value");
    Require(info.Block("message").size() <= text.size(), "block longer than the text");
    for (const std::string& file : info.FileList())
        Require(!file.empty(), "empty file in the list");
    info.Method();

    const int forward = CompareVersions(version, running);
    const int backward = CompareVersions(running, version);
    Require(forward >= -1 && forward <= 1, "comparison out of range");
    Require(forward == -backward, "comparison not antisymmetric");
    Require(CompareVersions(running, running) == 0, "a version differs from itself");
    // A plain version is compared by its numbers, where a fifth part is ignored.
    if (IsPlainVersion(version))
        Require(CompareVersions(version, version + ".0") == 0 && CompareVersions(version, "0") >= 0,
                "a plain version compared by its bytes");

    constexpr TauCalendarDate today{2026, 12, 7};
    const TauCalendarDate date = ParseInfoDate(info.Value("date"), today);
    Require(ParseInfoDate(FormatInfoDate(date), {1, 1, 1}) == date, "date does not read back");
    Require(!(IsNewerByDate(running, info.Value("date"), today) && IsNewerByDate(info.Value("date"), running, today)),
            "both dates newer");
    return 0;
}
