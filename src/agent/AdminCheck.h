#pragma once
// Whether the user counts as an administrator: the built-in Administrators
// group is in the token and enabled. A group that is present only for deny
// checks (a filtered or restricted token) does not count.
#include <windows.h>

bool TokenHasEnabledAdministrators(HANDLE token);
// The calling thread's token when it impersonates, else the process token;
// false when neither can be read.
bool IsUserAdmin();
