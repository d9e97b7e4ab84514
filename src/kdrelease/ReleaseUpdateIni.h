#pragma once
// The release's own update.ini, which the stub installs last over the
// installed copy's: what it must say so that no installed copy is stranded
// by the release that brings it. A wrong Version offers the same release at
// every start; a PublicKey that no release is signed with, or none at all,
// leaves copies that can never update again (or only over https); a missing
// Product makes a copy refuse every signed release; AllowUnverifiedUpdates
// lets anyone on the network install; a ProcessName that names no file
// starts nothing. Platform-free: no <windows.h> here.

#include "kdrelease/ReleaseInfo.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A value of section [UpdateInfo] as the system's profile functions read it
// (section and key in any case, blanks around the value and one pair of
// quotes around it dropped, ";" lines skipped); the text is ANSI or UTF-16
// LE with its byte-order mark. Nothing when the key is not there.
std::optional<std::string> UpdateIniValue(std::string_view iniText, std::string_view key);

struct UpdateIniCheck {
    std::optional<std::string> iniText;  // the release's update.ini; none when it has none
    std::string version;                 // --version
    std::string product;                 // --product
    std::string signingKey;              // X || Y of the key that signs
    std::vector<std::string> files;      // the release's file names
    std::vector<std::string> installed;  // --installed-files: names already in installed copies
};

// Every problem with the release's update.ini, each a line for the
// publisher; empty when there is none.
std::vector<std::string> UpdateIniProblems(const UpdateIniCheck& check);

// The names of a --installed-files value: separated by commas, blanks
// around each dropped, empty ones skipped.
std::vector<std::string> InstalledFileNames(std::string_view list);

// The text with PublicKey of [UpdateInfo] set to `keys` (the line replaced
// where it is, else added after the section's header, the section added at
// the end when missing); every other line, and the line breaks, kept.
// Nothing for a UTF-16 text, which this does not rewrite.
std::optional<std::string> WithPublicKeys(std::string_view iniText, std::string_view keys);
