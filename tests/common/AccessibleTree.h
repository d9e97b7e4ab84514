#pragma once
// The accessible tree of a window as a screen reader walks it: the window's
// client object (AccessibleObjectFromWindow), then each child through
// AccessibleChildren, objects and simple elements alike; a child window whose
// system object answers nothing (Wine's) by its client object. Wine's system
// objects give every window, a button too, the client role. The thread needs COM.
#include <windows.h>
#include <oleacc.h>

#include "winutil/UniqueShell.h"

#include <string>
#include <string_view>
#include <vector>

struct AccessibleNode {
    UniqueCom<IAccessible> object; // the object, or the parent of a simple element
    long child = CHILDID_SELF;
    int depth = 0;
    long role = 0;
    long state = 0;
    std::wstring name;
    std::wstring value;
    std::wstring defaultAction;

    VARIANT Id() const;
    // accLocation on the screen.
    RECT Location() const;
};

// Depth first, the window's client object first; at most `limit` nodes.
std::vector<AccessibleNode> AccessibleTreeOf(HWND window, std::size_t limit = 20000);
// The first node of the role whose name holds `name`; null for none.
const AccessibleNode* FindAccessible(const std::vector<AccessibleNode>& tree, long role, std::wstring_view name);
