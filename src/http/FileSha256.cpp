#include "FileSha256.h"

std::string Sha256OfFile(HANDLE file)
{
    TauSha256 hash;
    std::string block(64 * 1024, '\0');
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
            return {};
        if (read == 0)
            return hash.Finish();
        hash.Update(block.data(), read);
    }
}
