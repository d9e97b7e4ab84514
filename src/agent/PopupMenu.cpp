#include "PopupMenu.h"

#include "common/AppMessages.h"
#include "core/StrCon.h"
#include "winutil/ErrorText.h"
#include "winutil/WideText.h"

namespace {

// Room between a picture and its caption.
constexpr int kImageGap = 4;

TBuiltMenu::Image ImageOf(const TMenuItem& item, HIMAGELIST list)
{
    if (!list || item.ImageIndex < 0 || item.ImageIndex >= ImageList_GetImageCount(list))
        return {};
    return {list, item.ImageIndex};
}

void AppendItems(HMENU menu, const TMenuItem& parent, HIMAGELIST images, TBuiltMenu& built)
{
    for (const TMenuItemPtr& item : parent.Items) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        if (item->IsSeparator()) {
            info.fMask = MIIM_FTYPE;
            info.fType = MFT_SEPARATOR;
            InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &info);
            continue;
        }
        built.commands.push_back(item);
        std::wstring caption = WideFromUtf8(item->Caption);
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE | MIIM_DATA;
        info.wID = static_cast<UINT>(built.commands.size());
        info.dwTypeData = caption.data();
        info.fState = (item->Checked ? MFS_CHECKED : 0) | (item->Default ? MFS_DEFAULT : 0) |
                      (item->Enabled ? 0 : MFS_DISABLED);
        const TBuiltMenu::Image image = ImageOf(*item, images);
        if (image.list) {
            built.images.push_back(image);
            info.fMask |= MIIM_BITMAP;
            info.hbmpItem = HBMMENU_CALLBACK;
            info.dwItemData = built.images.size();
        }
        UniqueMenu submenu;
        if (item->SubMenu || !item->Items.empty()) {
            submenu.reset(CreatePopupMenu());
            if (!submenu)
                throw EWin32Error("CreatePopupMenu", GetLastError());
            AppendItems(submenu.get(), *item, item->SubMenuImages, built);
            info.fMask |= MIIM_SUBMENU;
            info.hSubMenu = submenu.get();
        }
        if (!InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &info))
            throw EWin32Error("InsertMenuItem", GetLastError());
        // The parent menu owns the submenu from now on.
        (void)submenu.release();
    }
}

TMenuItemPtr FindDefault(const TMenuItem& parent)
{
    for (const TMenuItemPtr& item : parent.Items)
        if (item->Default && !item->IsSeparator())
            return item;
    return nullptr;
}

} // namespace

TMenuItem& TMenuItem::Add(TMenuItemPtr item)
{
    Items.push_back(std::move(item));
    return *Items.back();
}

void TMenuItem::Click()
{
    // The handler may clear the tree that holds this item.
    const TClickEvent onClick = OnClick;
    if (onClick)
        onClick(*this);
}

std::string MenuCaptionText(const std::string& text)
{
    return ReplaceAll("&", "&&", text);
}

// A top-level window: the menu's owner must be able to take the foreground.
TPopupMenu::TPopupMenu()
    : FWindow({.kind = keldora::winutil::WindowKind::HiddenTopLevel, .className = "TPopupMenuOwner"},
              [this](UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
                  return HandleMessage(message, lParam, result);
              },
              HandleCurrentException)
{
}

TBuiltMenu TPopupMenu::Build() const
{
    TBuiltMenu built;
    built.menu.reset(CreatePopupMenu());
    if (!built.menu)
        throw EWin32Error("CreatePopupMenu", GetLastError());
    AppendItems(built.menu.get(), Items, Images, built);
    return built;
}

void TPopupMenu::Popup(int x, int y)
{
    struct CloseNotice {
        TPopupMenu& menu;
        ~CloseNotice()
        {
            menu.FShown = nullptr;
            if (menu.OnClose)
                menu.OnClose();
        }
    };
    if (OnPopup)
        OnPopup();
    CloseNotice notice{*this};
    const TBuiltMenu built = Build();
    FShown = &built;
    // Without the foreground the menu would not close when the user clicks
    // elsewhere; the WM_NULL lets it close properly after a selection.
    SetForegroundWindow(FWindow.get());
    const UINT command = TrackPopupMenu(built.menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0,
                                        FWindow.get(), nullptr);
    PostMessageW(FWindow.get(), WM_NULL, 0, 0);
    FShown = nullptr;
    if (command >= 1 && command <= built.commands.size())
        built.commands[command - 1]->Click();
}

bool TPopupMenu::ClickDefault()
{
    const TMenuItemPtr item = FindDefault(Items);
    if (!item)
        return false;
    item->Click();
    return true;
}

bool TPopupMenu::MeasureItem(MEASUREITEMSTRUCT& measure) const
{
    if (measure.CtlType != ODT_MENU || !FShown || measure.itemData == 0 || measure.itemData > FShown->images.size())
        return false;
    measure.itemWidth = GetSystemMetrics(SM_CXSMICON) + kImageGap;
    measure.itemHeight = GetSystemMetrics(SM_CYSMICON);
    return true;
}

bool TPopupMenu::DrawItem(const DRAWITEMSTRUCT& draw) const
{
    if (draw.CtlType != ODT_MENU || !FShown || draw.itemData == 0 || draw.itemData > FShown->images.size())
        return false;
    const TBuiltMenu::Image& image = FShown->images[draw.itemData - 1];
    const int height = GetSystemMetrics(SM_CYSMICON);
    const int top = draw.rcItem.top + (draw.rcItem.bottom - draw.rcItem.top - height) / 2;
    ImageList_Draw(image.list, image.index, draw.hDC, draw.rcItem.left, top, ILD_TRANSPARENT);
    return true;
}

bool TPopupMenu::HandleMessage(UINT message, LPARAM lParam, LRESULT& result) const
{
    result = TRUE;
    if (message == WM_MEASUREITEM)
        return MeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
    if (message == WM_DRAWITEM)
        return DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    return false;
}
