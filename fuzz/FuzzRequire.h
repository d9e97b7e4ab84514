#pragma once
// A broken invariant aborts, so libFuzzer keeps the input that broke it.
#include <cstdio>
#include <cstdlib>

inline void Require(bool ok, const char* what)
{
    if (ok)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
