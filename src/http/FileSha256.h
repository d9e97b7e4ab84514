#pragma once
// SHA-256 for the client: core's hash, fed block by block while a download
// is stored, and the digest of an open file.

#include "core/Sha256.h"

#include <windows.h>

#include <string>

using TauSha256 = TSha256;

// The digest of what is left to read of an open file; empty when a read
// fails.
std::string Sha256OfFile(HANDLE file);
