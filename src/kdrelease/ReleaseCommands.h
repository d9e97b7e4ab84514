#pragma once
// The sub-commands of kdrelease: keygen, make and verify, run on UTF-8
// arguments with the platform's cryptography (ReleaseCrypto.h). Every refusal
// is one line "kdrelease: ..." per problem on `err`.
// Platform-free: no <windows.h> here.

#include "kdrelease/ReleaseInfo.h"

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

// 0 done (verify: the release would be installed), 1 refused or failed, 2 a
// bad command line. `now` is the moment expiries are counted from.
int RunRelease(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
               std::chrono::system_clock::time_point now);
