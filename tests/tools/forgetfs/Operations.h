#pragma once
// The file system's operations for libfuse's high-level interface: every one
// passes through to the backing folder, which must be the daemon's working
// folder (paths are taken relative to it), and writes, size changes and
// flushes go through the UnflushedWrites given to fuse_new as private data.
#include <fuse.h>

fuse_operations ForgetfsOperations();
