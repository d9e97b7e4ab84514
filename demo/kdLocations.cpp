// Prints the ten startup locations as this machine resolves them.
#include "common/SystemFacts.h"
#include "startup/uStartupMgr.h"

#include <cstdio>

namespace {

const char* RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    return "(folder)";
}

} // namespace

int main()
{
    std::printf("Windows kind %u\n", static_cast<unsigned>(GetWindowsKind()));
    for (std::uint8_t i = 0; i < StartupLocationCount; ++i) {
        const TStpDesc desc = GetStpDesc(i);
        std::printf("%u  %-44s %-19s %s\n", static_cast<unsigned>(i), StartupLocationCaptions[i], RootName(desc.RootKey),
                    desc.Path.empty() ? "(not available)" : desc.Path.c_str());
    }
    return 0;
}
