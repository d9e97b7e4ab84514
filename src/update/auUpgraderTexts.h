#pragma once
// The engine's texts from the message table in the program's string-table
// resources, always as UTF-16: an ANSI load would turn Russian on a Western
// system, or Chinese anywhere but on a Chinese one, into question marks.
// The language is process-wide: the last one selected wins for every engine.

#include "update/auUpgraderLanguage.h"

#include <initializer_list>
#include <string>
#include <string_view>

// wlAuto resolves through the system's default language.
void SelectUpgraderLanguage(TauAutoUpgraderLanguage language);
// The language last selected, as assigned (wlAuto stays wlAuto).
TauAutoUpgraderLanguage SelectedUpgraderLanguage();
// First identifier of the block in use.
unsigned UpgraderBlock();

// The string with this identifier from the program's resources; empty when missing.
std::wstring ResourceTextW(unsigned id);
// Message `index` of the block in use.
std::wstring UpgraderText(unsigned index);
// Message `index` with each "%s" replaced by the next argument and "%%" by
// "%"; the arguments are never read as formats.
std::wstring UpgraderText(unsigned index, std::initializer_list<std::wstring_view> args);
// Message `index` with its numeric conversions (%d, %.2d, %.1f and the
// like) filled from `values` in order; the pattern comes from the program's
// own resources but is still never handed to a printf routine.
std::wstring UpgraderNumbers(unsigned index, std::initializer_list<double> values);
