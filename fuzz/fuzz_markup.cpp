// The markup layout over any bytes, on the recording canvas without
// recording: the first bytes choose the flags, the width and the mouse, the
// rest is the markup. No crash, no hang, and the results stay consistent.
#include "FuzzRequire.h"
#include "core/Utf8.h"
#include "markup/FakeCanvas.h"
#include "markup/GifFrames.h"
#include "markup/HTMLLayout.h"
#include "markup/MarkupText.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kControlBytes = 4;

void CheckResult(const HTMLDrawResult& result)
{
    Require(result.width >= 0 && result.height >= 0, "negative extent");
    Require(result.linkCount >= 0, "negative link count");
    Require(!result.hit || (result.anchorNumber >= 1 && result.anchorNumber <= result.linkCount),
            "a hit names a link that was not met");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kControlBytes)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + kControlBytes), size - kControlBytes);
    const std::uint8_t flags = data[0];
    HTMLDrawParams params;
    params.text = text;
    params.rect = {0, 0, data[1] * 2, 2000};
    params.mouseX = data[2];
    params.mouseY = data[3] / 4;
    params.ellipsis = (flags & 1) != 0;
    params.hoverStyle = (flags & 2) != 0;
    params.measureOnly = (flags & 4) != 0;
    params.hoverLink = flags >> 5;
    params.linkColor = clBlue;
    params.hoverColor = (flags & 8) ? clYellow : clNone;
    params.shadowColor = clGray;
    params.shadowOffset = 2;

    FakeCanvas canvas(/*record=*/false);
    canvas.AddPicture("p", {30, 20});
    canvas.AddPicture("http://x/p.gif", {5, 5});
    const MarkupFont font = canvas.Font();
    CheckResult(DrawHTMLText(canvas, params));
    params.hitTestOnly = true;
    const HTMLDrawResult hit = DrawHTMLText(canvas, params);
    CheckResult(hit);
    Require(canvas.Font() == font && canvas.Brush() == clNone, "canvas state not restored");

    Require(StripHTML(text).size() <= text.size(), "plain text longer than the markup");
    const std::string replaced = ReplaceEntities(text);
    Require(replaced.size() <= 2 * text.size(), "entities more than doubled the text");
    Require(!IsValidUtf8(text) || IsValidUtf8(replaced), "entities made UTF-8 invalid");
    const std::string decoded = DecodeAttribute(text);
    Require(decoded.size() <= text.size(), "a decoded value is longer than written");
    Require(!IsValidUtf8(text) || IsValidUtf8(decoded), "decoding made UTF-8 invalid");
    const std::string joined = BlanksForLineBreaks(text);
    Require(joined.size() <= text.size() && joined.find_first_of("\r\n") == std::string::npos,
            "line breaks left or text grown");
    const std::span<const std::uint8_t> bytes(data + kControlBytes, size - kControlBytes);
    const GifSelection selection = SelectGifFrame(bytes, flags);
    Require(selection.data.size() <= bytes.size(), "selected frame data longer than the picture");
    Require(selection.frame >= 1, "frame below 1");
    ParseHTMLColor(text);
    return 0;
}
