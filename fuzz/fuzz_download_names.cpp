// Names of downloads come from the network: whatever the address, a name is
// either refused or a plain file name of the program's folder in UTF-8 with
// the pending suffix; file times are either skipped or inside the storable
// range.
#include "update/auDownloadNames.h"
#include "core/Utf8.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const double date = input.ConsumeFloatingPoint<double>();
    const std::string url = input.ConsumeRemainingBytesAsString();

    if (const auto name = PendingNameOfURL(url)) {
        Require(name->size() > PendingSuffix.size(), "empty name");
        Require(name->compare(name->size() - PendingSuffix.size(), PendingSuffix.size(), PendingSuffix) == 0,
                "suffix missing");
        Require(name->find_first_of("/\\:?*<>|\"") == std::string::npos, "separator or wildcard in the name");
        const std::string target = name->substr(0, name->size() - PendingSuffix.size());
        Require(target != "." && target != "..", "folder name");
        Require(IsValidUtf8(target), "a name that is not UTF-8");
        std::string encoded; // every "%" written as "%25", so that decoding gives the name again
        for (const char c : target)
            encoded += c == '%' ? std::string("%25") : std::string(1, c);
        Require(PendingNameOfURL(encoded) == name, "the name does not stand for itself");
    }
    if (const auto time = LocalFileTimeOf(date)) {
        Require(*time >= 119600064000000000ull, "before 1980");
        Require(*time % 20000000 == 0, "not in two-second steps");
    }
    return 0;
}
