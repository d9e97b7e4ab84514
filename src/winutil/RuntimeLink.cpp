#include "RuntimeLink.h"

#include "winutil/WideText.h"

#include <string>

FARPROC BindFunction(const char* library, const char* function)
{
    const std::wstring name = WideFromUtf8(library);
    HMODULE module = GetModuleHandleW(name.c_str());
    if (!module)
        module = LoadLibraryW(name.c_str());
    if (!module)
        throw std::runtime_error(std::string("Library not found: ") + library);
    FARPROC address = GetProcAddress(module, function);
    if (!address)
        throw std::runtime_error(std::string("Function not found: ") + library + "." + function);
    return address;
}
