#include "http/LoginInfo.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

// Any block that decodes must be exactly what encoding its texts gives.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view block(reinterpret_cast<const char*>(data), size);
    const auto info = DecodeLoginInfo(block);
    if (!info)
        return 0;
    const auto again = EncodeLoginInfo(info->username, info->password);
    if (!again || *again != block) {
        std::fprintf(stderr, "invariant broken: login record does not round-trip\n");
        std::abort();
    }
    return 0;
}
