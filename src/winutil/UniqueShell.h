#pragma once
// Shell and COM objects, owned (see UniqueHandle.h): COM interface pointers,
// the shell's item ID lists and image lists.
#include "winutil/UniqueHandle.h"

#include <windows.h>
#include <commctrl.h>
#include <shtypes.h>

struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ImageList_Destroy(h); }
};

using UniqueImageList = UniqueHandle<ImageListTraits>;

// COM interface pointers: released, not closed.
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type invalid() { return nullptr; }
    static void close(Type p) { p->Release(); }
};

template <typename Interface>
using UniqueCom = UniqueHandle<ComTraits<Interface>>;

// Item ID lists that the shell allocates.
struct ItemIdListTraits {
    using Type = LPITEMIDLIST;
    static Type invalid() { return nullptr; }
    static void close(Type p) { CoTaskMemFree(p); }
};

using UniqueItemIdList = UniqueHandle<ItemIdListTraits>;
