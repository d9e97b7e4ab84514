#pragma once
// Random bytes and P-256 ECDSA verification of a signed information file by
// the platform's cryptography (CNG, bcrypt.dll). The message is hashed with
// the client's TauSha256, which this header brings along for callers that
// need both.

#include "http/FileSha256.h"

#include <string_view>

// True only when `signature` (r || s) is a valid P-256 ECDSA signature of the
// SHA-256 of `message` under the key X || Y.
bool VerifyP256Signature(std::string_view publicKeyXY, std::string_view message, std::string_view signature);

// 128 bits from the system's random number generator as 32 lower-case
// hexadecimal digits; empty when the system gives none.
std::string RandomHex();
