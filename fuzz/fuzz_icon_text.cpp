// Icon texts and menu captions from store entries: any bytes, no failure,
// and the file part never keeps a trimmed character at either end.
#include "agent/IconText.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const IconSource source = ParseIconText(text);
    for (const char end : {source.file.empty() ? 'x' : source.file.front(), source.file.empty() ? 'x' : source.file.back()})
        if (static_cast<unsigned char>(end) <= '"')
            std::abort();
    if (WithoutExtension(text).size() > text.size())
        std::abort();
    return 0;
}
