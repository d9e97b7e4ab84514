#include "AgentResources.h"

#include <windows.h>

std::string LoadResourceString(unsigned id)
{
    std::string text(256, '\0');
    for (;;) {
        const int length = LoadStringA(GetModuleHandleA(nullptr), id, text.data(), static_cast<int>(text.size()));
        if (length <= 0)
            return {};
        // A full buffer may mean a cut string: try again with more room.
        if (static_cast<std::size_t>(length) + 1 < text.size()) {
            text.resize(static_cast<std::size_t>(length));
            return text;
        }
        text.resize(text.size() * 2);
    }
}
