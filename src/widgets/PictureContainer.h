#pragma once
// Pictures for the markup: THTMLPicture keeps the encoded bytes of an image
// and decodes them with the OLE picture service (bitmap, JPEG, GIF, icon,
// metafile), choosing one frame of an animated GIF. TPictureContainer holds
// named pictures; THTMLPictureCache holds the pictures a label loaded from
// URLs. All of it runs on the thread of the windows that draw the pictures
// (COM initialised there).
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "markup/GifFrames.h"
#include "winutil/UniqueShell.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// A decoding failure; the picture that raised it is empty afterwards.
class EPictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class THTMLPicture {
public:
    THTMLPicture() = default;
    THTMLPicture(const THTMLPicture&) = delete;
    THTMLPicture& operator=(const THTMLPicture&) = delete;

    // Takes the bytes and decodes them; a failure raises EPictureError.
    void LoadFromBytes(std::vector<std::uint8_t> data);
    // A missing or unreadable file, or one that does not decode, leaves the
    // picture empty; nothing is raised.
    void LoadFromFile(const std::string& path);
    // The program's RCDATA resource of that name; nothing happens without one.
    void LoadFromResource(const std::string& name);
    // "RES://name" and "FILE://path" (any case) load at once; any other URL
    // is only remembered: pictures are not fetched from the network.
    void LoadFromURL(const std::string& url);
    // A copy of the other picture's bytes, decoded again from frame 1; null
    // empties this one.
    void Assign(const THTMLPicture* other);
    const std::vector<std::uint8_t>& Data() const { return data_; }

    bool Empty() const { return empty_; }
    // Pixels at 96 dots per inch; 0 without a decoded picture.
    int Width() const;
    int Height() const;
    // The animation's logical screen when known and not zero, else the picture's size.
    int LayoutWidth() const;
    int LayoutHeight() const;
    // Nothing when empty; stretched over the rectangle, or at natural size at its top-left.
    void Draw(HDC dc, const RECT& rect) const;

    bool Stretch = false;

    // The GIF frame shown, from 1, clamped to the frames there are. Choosing
    // one decodes again and raises OnFrameChange.
    int Frame() const { return frame_; }
    void SetFrame(int frame);
    // -1 for pictures that are not GIF.
    int FrameCount() const;
    GifFrame FramePosition() const { return framePosition_; }

    std::string URL;
    bool Asynchronous = true;
    bool DownloadBusy() const { return downloadBusy_; }

    std::function<void(THTMLPicture&)> OnChange;
    std::function<void(THTMLPicture&)> OnFrameChange;

private:
    void Decode();
    void Changed();

    std::vector<std::uint8_t> data_;
    UniqueCom<IPicture> picture_;
    bool empty_ = true;
    int frame_ = 1;
    mutable int frameCount_ = 0;
    mutable bool framesCounted_ = false;
    GifFrame framePosition_;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    bool downloadBusy_ = false;
};

struct TPictureItem {
    THTMLPicture Picture;
    std::string Name;
    int Tag = 0;
};

class TPictureContainer {
public:
    TPictureItem& Add(const std::string& name);
    // The first item whose name matches regardless of letter case; null when none does.
    THTMLPicture* FindPicture(std::string_view name) const;
    std::size_t Count() const { return items_.size(); }

private:
    std::vector<std::unique_ptr<TPictureItem>> items_;
};

class THTMLPictureCache {
public:
    // The first picture whose URL is exactly the given one; null when none is.
    THTMLPicture* FindPicture(std::string_view url) const;
    // A new empty picture, appended.
    THTMLPicture& AddPicture();
    void Clear() { pictures_.clear(); }
    std::size_t Count() const { return pictures_.size(); }

private:
    std::vector<std::unique_ptr<THTMLPicture>> pictures_;
};
