#pragma once
// Letting the calling thread's message queue run from inside a handler, so
// that painting and input keep up during long work.
#include <windows.h>

// Dispatches every message waiting for this thread. False when the
// application is quitting: the quit message is posted again for the loop
// that owns it, and the caller should stop.
bool ProcessMessages();
