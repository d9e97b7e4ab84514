#pragma once
// What a call of DrawHTMLText (markup/HTMLLayout.h) is given and returns,
// apart from the call so that the layout's own files can share it.
#include "markup/MarkupCanvas.h"

#include <string>
#include <string_view>

struct HTMLDrawParams {
    std::string_view text;
    MarkupRect rect;
    int mouseX = -1;
    int mouseY = -1;
    int hoverLink = -1; // link under the mouse at the last hit test
    int focusLink = -1;
    int shadowOffset = 0;
    TColor linkColor = clNone; // clNone: not set, for every colour here
    TColor hoverColor = clNone;
    TColor hoverFontColor = clNone;
    TColor shadowColor = clNone;
    bool hoverStyle = false;  // only the hovered link is highlighted
    bool ellipsis = false;    // no word wrap; runs cut with "..." at the right edge
    bool hitTestOnly = false; // the second pass of each line hit-tests instead of drawing
    bool measureOnly = false; // the second pass is skipped
    double imageScale = 1.0;
    int lineSpacing = 0;
};

struct HTMLDrawResult {
    bool hit = false; // the mouse is over the text or a picture of a link
    std::string anchor;
    MarkupRect anchorRect{-1, -1, -1, -1};
    int anchorNumber = -1; // links are numbered from 1
    std::string focusAnchor;
    int width = 0; // the widest line
    int height = 0;
    int linkCount = 0;
};
