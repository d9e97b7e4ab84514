#include "RuntimeLink.h"

#include <string>

FARPROC BindFunction(const char* library, const char* function)
{
    HMODULE module = GetModuleHandleA(library);
    if (!module)
        module = LoadLibraryA(library);
    if (!module)
        throw std::runtime_error(std::string("Library not found: ") + library);
    FARPROC address = GetProcAddress(module, function);
    if (!address)
        throw std::runtime_error(std::string("Function not found: ") + library + "." + function);
    return address;
}
