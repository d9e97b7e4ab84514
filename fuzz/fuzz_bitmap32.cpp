// Glyph bitmaps from resources: any bytes, no failure; an accepted image has
// exactly width times height pixels and blends onto a small target without
// reaching outside it.
#include "FuzzRequire.h"
#include "markup/AlphaPixels.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Image32 image;
    std::string error;
    if (!ParseBitmap32(data, size, image, error)) {
        Require(!error.empty(), "a refusal names its reason");
        Require(image.Empty(), "a refused file leaves the image as it was");
        return 0;
    }
    Require(!image.Empty(), "an accepted image has pixels");
    Require(image.pixels.size() == static_cast<std::size_t>(image.width) * image.height, "pixel count");
    std::vector<Pixel32> target(7 * 5, MakePixel(1, 2, 3, 4));
    BlendImage(image, target.data(), 7, 5, -image.width / 2, 2);
    return 0;
}
