#pragma once
// A popup menu described as a tree of items and turned into a system menu
// each time it opens. The menu built for one popup keeps the items it shows
// alive until the chosen item's OnClick has returned, so a handler that
// rebuilds the tree meanwhile (a refresh run by a timer inside the menu's
// modal loop) cannot free what the menu is about to call.
// Images come from image lists that the menu does not own; they are drawn by
// the menu's own hidden window. Main thread only.
#include <windows.h>
#include <commctrl.h>

#include "winutil/MessageWindow.h"
#include "winutil/UniqueHandle.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TMenuItem;
using TMenuItemPtr = std::shared_ptr<TMenuItem>;

class TMenuItem {
public:
    using TClickEvent = std::function<void(TMenuItem& sender)>;

    explicit TMenuItem(std::string caption = {}) : Caption(std::move(caption)) {}

    std::string Caption;  // UTF-8; "-" is a separator; "&" marks the access key
    int Tag = 0;
    bool Checked = false;
    bool Default = false;  // drawn bold; clicked by ClickDefault
    bool Enabled = true;
    int ImageIndex = -1;   // in the parent's SubMenuImages (the menu's Images at the top)
    TClickEvent OnClick;

    bool SubMenu = false;  // opens a submenu even while it has no items
    HIMAGELIST SubMenuImages = nullptr;
    std::vector<TMenuItemPtr> Items;

    TMenuItem& Add(TMenuItemPtr item);
    void Clear() { Items.clear(); }
    bool IsSeparator() const { return Caption == "-"; }
    void Click();
};

// One system menu built from the tree; command identifiers are 1-based
// indices into `commands`.
struct TBuiltMenu {
    struct Image {
        HIMAGELIST list = nullptr;
        int index = -1;
    };
    UniqueMenu menu;
    std::vector<TMenuItemPtr> commands;
    std::vector<Image> images;  // dwItemData of an item with a picture is its 1-based index here
};

class TPopupMenu {
public:
    TPopupMenu();
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;

    TMenuItem Items;
    HIMAGELIST Images = nullptr;
    bool AutoPopup = true;
    // Around every popup: before the menu opens, and after it closed and the
    // chosen item (if any) has run.
    std::function<void()> OnPopup;
    std::function<void()> OnClose;

    TBuiltMenu Build() const;
    // Opens the menu at the screen point and runs the chosen item; returns
    // when both are done.
    void Popup(int x, int y);
    // Clicks the first item marked Default; false when there is none.
    bool ClickDefault();
    HWND Window() const { return FWindow.get(); }

private:
    bool HandleMessage(UINT message, LPARAM lParam, LRESULT& result) const;
    bool MeasureItem(MEASUREITEMSTRUCT& measure) const;
    bool DrawItem(const DRAWITEMSTRUCT& draw) const;

    keldora::winutil::MessageWindow FWindow;
    const TBuiltMenu* FShown = nullptr;
};

// "&" doubled, so that a name is shown as it is written.
std::string MenuCaptionText(const std::string& text);
