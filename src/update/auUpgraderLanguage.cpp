#include "auUpgraderLanguage.h"

namespace {

constexpr unsigned PrimaryPortuguese = 0x16;
constexpr unsigned PrimaryChinese = 0x04;

struct PrimaryLanguage {
    unsigned primary;
    TauAutoUpgraderLanguage language;
};

// In enumeration order: the first match wins.
constexpr PrimaryLanguage PrimaryLanguages[] = {
    {0x09, wlEnglish},   {0x19, wlRussian},    {0x07, wlGerman},    {0x0C, wlFrench},    {0x0A, wlSpanish},
    {0x10, wlItalian},   {0x13, wlDutch},      {0x06, wlDanish},    {0x1D, wlSwedish},   {0x0B, wlFinnish},
    {0x25, wlEstonian},  {0x22, wlUkrainian},  {0x05, wlCzech},     {0x0E, wlHungarian}, {0x18, wlRomanian},
    {0x03, wlCatalan},   {0x2D, wlBasque},     {0x36, wlAfrikaans}, {0x21, wlIndonesian}, {0x3E, wlMalay},
    {0x0F, wlIcelandic},
};

}  // namespace

unsigned UpgraderBlockStart(TauAutoUpgraderLanguage language)
{
    const unsigned ordinal = static_cast<unsigned>(language == wlAuto ? wlEnglish : language);
    return UpgraderFirstBlockId + UpgraderBlockStride * (ordinal - 1);
}

TauAutoUpgraderLanguage LanguageFromLangId(std::uint16_t langId)
{
    const unsigned primary = langId & 0x3FFu;
    const unsigned sublanguage = langId >> 10;
    if (primary == PrimaryPortuguese)
        return sublanguage == 1 ? wlPortugueseBrazilian : wlPortuguese;
    if (primary == PrimaryChinese)
        return sublanguage == 2 ? wlChineseSimplified : wlChineseTraditional;
    for (const PrimaryLanguage& entry : PrimaryLanguages)
        if (entry.primary == primary)
            return entry.language;
    return wlEnglish;
}
