// kdrelease reads the key file a publisher names and the information file a
// publisher wants checked: any bytes in either must give a key that writes
// and reads back the same, or a reason, and a report that names a rule for
// every failure or says what a copy would do.
#include "kdrelease/KeyCoding.h"
#include "kdrelease/ReleaseReport.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string publicKey = input.ConsumeRandomLengthString(200);
    const std::string text = input.ConsumeRemainingBytesAsString();

    const P256KeyRead read = ReadPrivateKeyPem(text);
    if (read.key) {
        Require(read.failure.empty(), "a key with a failure");
        Require(read.key->d.size() == 32 && read.key->xy.size() == 64, "a key of the wrong size");
        const P256KeyRead again = ReadPrivateKeyPem(PrivateKeyPem(*read.key));
        Require(again.key && again.key->d == read.key->d && again.key->xy == read.key->xy,
                "a key that does not read back");
    } else {
        Require(!read.failure.empty(), "no key and no reason");
    }

    VerifyRequest request{text, publicKey, {}, "1.0", {{2026, 6, 1}, 12, 0, 0}, {}, std::nullopt};
    const VerifyReport report =
        VerifyRelease(request, [](std::string_view, std::string_view, std::string_view) { return true; });
    Require(report.failures.empty() != report.outcome.empty(), "a report both failed and decided");
    for (const RuleFailure& failure : report.failures)
        Require(!failure.rule.empty() && !failure.reason.empty(), "a failure without its rule or reason");
    return 0;
}
