#pragma once
// Layout of the label markup, platform-free: `DrawHTMLText` walks the text
// line by line, measures each line, then draws it or hit-tests it (finds the
// link under the mouse) on a MarkupCanvas. The text is UTF-8. A line breaks
// after a blank, next to an ideograph (markup/LineBreak.h), and between
// characters of a run wider than the whole line, which fills the line first.
// Malformed markup never fails: an unclosed tag swallows the rest, unknown
// tags and attributes are ignored, numbers saturate, missing pictures are
// skipped, bytes that are no UTF-8 are drawn as they come, each a character.
// The canvas's font and brush are restored at the end of the call. Nothing is
// cached between calls.
#include "markup/HTMLDrawParams.h"
#include "markup/MarkupCanvas.h"

HTMLDrawResult DrawHTMLText(MarkupCanvas& canvas, const HTMLDrawParams& params);
