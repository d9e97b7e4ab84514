#include "WindowsKind.h"

#include "StrCon.h"

namespace {

std::uint8_t Classify9x(const WindowsVersionFacts& f, const std::string& sp)
{
    if (f.minor < 10)
        return sp == "B" ? wk95OSR2 : wk95;
    if (f.minor == 90)
        return wkME;
    if (f.minor > 89)
        return wkUnknown;
    if (f.kernelMajor == 4 && f.kernelMinor == 90)
        return wkME;
    return sp == "A" ? wk98SE : wk98;
}

// NT 3.x reports its minor version either as written (3.1) or in hundredths (3.10).
std::uint8_t ClassifyNT3(unsigned minor)
{
    switch (minor) {
    case 1:
    case 10:
        return wkNT31;
    case 5:
    case 50:
        return wkNT35;
    case 51:
        return wkNT351;
    default:
        return wkUnknown;
    }
}

} // namespace

std::uint8_t ClassifyWindows(const WindowsVersionFacts& facts)
{
    if (!facts.nt)
        return Classify9x(facts, TrimUpTo(facts.servicePack, ' '));
    switch (facts.major) {
    case 3:
        return ClassifyNT3(facts.minor);
    case 4:
        return wkNT4;
    case 5:
        return facts.minor == 0 ? wk2000 : facts.minor == 1 ? wkXP : wkUnknown;
    default:
        return wkUnknown;
    }
}
