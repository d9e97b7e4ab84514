#pragma once
// The engine's side of the manifest (StubRecords.h has its form): the text
// for the files it checked. Kept apart from the reading rules so the stub,
// which only reads, links no allocating code.
#include "update/stub/StubRecords.h"

#include <string>
#include <vector>

struct ManifestEntry {
    std::string name;    // plain file name in the program's folder (IsPlainFileName)
    std::string sha256;  // the 32 bytes of the digest
    bool keep = false;   // not downloaded: the installed file already holds the digest
};

// The manifest of these files for the updater of that file name; empty when
// a name is no plain file name or a digest is not 32 bytes, so a bad entry
// never reaches the stub.
std::string ManifestText(const ProductProcess& product, const std::string& updater,
                         const std::vector<ManifestEntry>& files);
