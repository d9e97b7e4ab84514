#pragma once
// Resource identifiers of kdAgent.exe, shared by the resource script and the
// code (so plain macros: the resource compiler reads this file too).

#define IDS_CONFIG_FILE 65492
#define IDS_NEED_ADMIN 65493
#define IDS_APP_TITLE 65494
#define IDS_AGENT_ITEM_DESC 65495
#define IDS_TRAY_HINT 65496
#define IDS_BALLOON_TITLE 65497
#define IDS_BALLOON_TEXT 65498
#define IDS_MENU_EXIT 65499
#define IDS_MENU_CONFIG 65500
#define IDS_MENU_SHOW_ICON 65501
#define IDS_MENU_REFRESH 65502
#define IDS_ICON_HIDDEN 65503
#define IDS_NEED_ELEVATION 65504

#ifndef RC_INVOKED
#include <string>

// A string of the program's string table (UTF-8); empty when it has none.
std::string LoadResourceString(unsigned id);
#endif
