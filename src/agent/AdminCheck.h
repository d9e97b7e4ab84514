#pragma once
// Whether the user is an administrator, and whether this process may act as
// one. Under UAC a program started at logon gets the filtered token: the
// built-in Administrators group is there, but for deny checks only. That user
// is an administrator all the same; only writes to machine-wide places need
// the group enabled (an elevated start, or UAC switched off).
#include <windows.h>

enum class TAdminState { asNone, asFiltered, asElevated };

// What the group list says of the built-in Administrators group.
TAdminState AdministratorsIn(const TOKEN_GROUPS& groups);
TAdminState TokenAdminState(HANDLE token);
// The calling thread's token when it impersonates, else the process token;
// asNone when neither can be read.
TAdminState CurrentAdminState();
// The group is present, enabled or deny-only.
bool IsUserAdmin();
