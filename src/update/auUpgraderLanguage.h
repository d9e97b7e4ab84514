#pragma once
// The engine's message table: one block of 34 strings per language in the
// string-table resources, and the choice of a block from the system's
// language. Platform-free: no <windows.h> here.

#include "update/auUpgradeTypes.h"

#include <cstdint>

// Indices of the messages within a block.
enum TauUpgraderMessage : unsigned {
    umsgCaption = 0,
    umsgDownloading = 1,
    umsgCompleted = 2,
    umsgCurrentFile = 3,
    umsgAllFiles = 4,
    umsgDownloadingFrom = 5,
    umsgFileSize = 6,
    umsgTransferRate = 7,
    umsgTimeLeft = 8,
    umsgFileOfFiles = 9,
    umsgFinishedNote = 10,
    umsgPasswordCaption = 11,
    umsgUserName = 12,
    umsgPassword = 13,
    umsgYes = 14,
    umsgOK = 16,
    umsgError = 21,
    umsgCancel = 17,
    umsgNext = 18,
    umsgPreparing = 22,
    umsgAbortQuestion = 27,
    umsgLater = 19,
    umsgNoUpdate = 24,
    umsgNoInfoFile = 25,
    umsgLostFile = 28,
    umsgHostUnreachable = 26,
    umsgPasswordProtected = 29,
    umsgConnectionLost = 30,
    umsgReleaseRefused = 31,
    umsgLocalFailure = 32,
    umsgKeyWithoutProduct = 33,
};

constexpr unsigned UpgraderMessageCount = 34;
constexpr unsigned UpgraderFirstBlockId = 41000;
constexpr unsigned UpgraderBlockStride = 50;
// The fixed name of the component shown in the wizard.
constexpr unsigned UpgraderComponentNameId = 40999;

// First string identifier of the block of `language` (wlAuto counts as English).
unsigned UpgraderBlockStart(TauAutoUpgraderLanguage language);

// The language for a system language identifier: the primary language in the
// low 10 bits, the sublanguage above; English when none matches.
TauAutoUpgraderLanguage LanguageFromLangId(std::uint16_t langId);
