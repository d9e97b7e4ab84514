#pragma once
// Run-time binding of system functions that older systems lack, so that the
// programs still load there. The library is taken as loaded, or loaded and kept
// for the life of the process (the bound addresses are cached by callers).
#include <windows.h>

#include <stdexcept>

// Raises std::runtime_error "Library not found: <library>" or
// "Function not found: <library>.<function>".
FARPROC BindFunction(const char* library, const char* function);

template <typename Fn>
Fn* BindFunctionAs(const char* library, const char* function)
{
    return reinterpret_cast<Fn*>(reinterpret_cast<void*>(BindFunction(library, function)));
}

// Null where the system lacks the library or the function.
template <typename Fn>
Fn* OptionalFunctionAs(const char* library, const char* function)
{
    try {
        return BindFunctionAs<Fn>(library, function);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}
