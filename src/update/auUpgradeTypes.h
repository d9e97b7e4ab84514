#pragma once
// Enumerations of the update engine shared by its platform-free units and the
// Windows engine. Platform-free: no <windows.h> here.

enum TacUpgradeMethod { umSelfUpgrade, umUseExternalSetup, umRedirectToURL };
enum TauAutoUpgraderVersionControl { byDate, byNumber };
enum TauAutoUpgraderLanguage {
    wlAuto,
    wlEnglish,
    wlRussian,
    wlGerman,
    wlFrench,
    wlSpanish,
    wlPortuguese,
    wlPortugueseBrazilian,
    wlItalian,
    wlDutch,
    wlDanish,
    wlSwedish,
    wlFinnish,
    wlEstonian,
    wlUkrainian,
    wlCzech,
    wlHungarian,
    wlRomanian,
    wlCatalan,
    wlBasque,
    wlAfrikaans,
    wlChineseTraditional,
    wlChineseSimplified,
    wlIndonesian,
    wlMalay,
    wlIcelandic
};
