#include "PictureContainer.h"

#include "core/StrCon.h"
#include "markup/MarkupText.h"
#include "winutil/UniqueShell.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

namespace {

constexpr int kHimetricPerInch = 2540;

// Far above any picture a page shows; a larger file is treated as unreadable.
constexpr std::size_t kMaxPictureFileSize = 64 * 1024 * 1024;

struct GlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type invalid() { return nullptr; }
    static void close(Type h) { GlobalFree(h); }
};
using UniqueGlobalMemory = UniqueHandle<GlobalMemoryTraits>;

UniqueCom<IPicture> LoadOlePicture(const std::vector<std::uint8_t>& bytes)
{
    UniqueGlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size()));
    if (!memory)
        throw EPictureError("Could not allocate memory for image");
    if (void* target = GlobalLock(memory.get())) {
        std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(target));
        GlobalUnlock(memory.get());
    }
    UniqueCom<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(memory.get(), /*fDeleteOnRelease=*/TRUE, stream.put())))
        throw EPictureError("Could not create image stream");
    // The stream frees the memory from now on.
    (void)memory.release();
    if (!stream)
        throw EPictureError("Empty image stream created");
    UniqueCom<IPicture> picture;
    if (FAILED(OleLoadPicture(stream.get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPicture,
                              reinterpret_cast<void**>(picture.put()))))
        throw EPictureError("Could not load image. Invalid format");
    if (!picture)
        throw EPictureError("Could not load image");
    return picture;
}

int HimetricToPixels(OLE_XSIZE_HIMETRIC size, int dpi)
{
    return MulDiv(size, dpi, kHimetricPerInch);
}

} // namespace

void THTMLPicture::LoadFromBytes(std::vector<std::uint8_t> data)
{
    data_ = std::move(data);
    framesCounted_ = false;
    empty_ = false;
    Decode();
    Changed();
}

void THTMLPicture::LoadFromFile(const std::string& path)
{
    const auto content = ReadWholeFile(path, kMaxPictureFileSize);
    if (!content) {
        empty_ = true;
        picture_.reset();
        return;
    }
    try {
        LoadFromBytes(std::vector<std::uint8_t>(content->begin(), content->end()));
    } catch (const EPictureError&) {
    }
}

void THTMLPicture::LoadFromResource(const std::string& name)
{
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, WideFromUtf8(name).c_str(), MAKEINTRESOURCEW(10));
    if (!resource)
        return;
    const HGLOBAL loaded = LoadResource(module, resource);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    if (!bytes)
        return;
    LoadFromBytes(std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module, resource)));
}

void THTMLPicture::LoadFromURL(const std::string& url)
{
    URL = url;
    if (StartsWithNoCase(url, "RES://")) {
        LoadFromResource(url.substr(6));
        return;
    }
    if (StartsWithNoCase(url, "FILE://")) {
        LoadFromFile(url.substr(7));
        return;
    }
    // Downloading is not part of this program: an asynchronous picture is
    // only marked busy and stays empty.
    if (Asynchronous && !downloadBusy_)
        downloadBusy_ = true;
}

void THTMLPicture::Assign(const THTMLPicture* other)
{
    frame_ = 1;
    framePosition_ = {};
    screenWidth_ = screenHeight_ = 0;
    if (!other) {
        data_.clear();
        picture_.reset();
        empty_ = true;
        framesCounted_ = false;
        return;
    }
    LoadFromBytes(other->data_);
}

int THTMLPicture::Width() const
{
    OLE_XSIZE_HIMETRIC width = 0;
    if (!picture_ || FAILED(picture_.get()->get_Width(&width)))
        return 0;
    return HimetricToPixels(width, 96);
}

int THTMLPicture::Height() const
{
    OLE_YSIZE_HIMETRIC height = 0;
    if (!picture_ || FAILED(picture_.get()->get_Height(&height)))
        return 0;
    return HimetricToPixels(height, 96);
}

int THTMLPicture::LayoutWidth() const
{
    return screenWidth_ > 0 ? screenWidth_ : Width();
}

int THTMLPicture::LayoutHeight() const
{
    return screenHeight_ > 0 ? screenHeight_ : Height();
}

void THTMLPicture::Draw(HDC dc, const RECT& rect) const
{
    if (empty_ || !picture_)
        return;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture_.get()->get_Width(&width);
    picture_.get()->get_Height(&height);
    int cx = rect.right - rect.left, cy = rect.bottom - rect.top;
    if (!Stretch) {
        cx = HimetricToPixels(width, GetDeviceCaps(dc, LOGPIXELSX));
        cy = HimetricToPixels(height, GetDeviceCaps(dc, LOGPIXELSY));
    }
    picture_.get()->Render(dc, rect.left, rect.top, cx, cy, 0, height, width, -height, nullptr);
}

void THTMLPicture::SetFrame(int frame)
{
    const int count = FrameCount();
    frame_ = count > 0 ? std::clamp(frame, 1, count) : 1;
    if (!data_.empty())
        Decode();
    if (OnFrameChange)
        OnFrameChange(*this);
}

int THTMLPicture::FrameCount() const
{
    if (!framesCounted_) {
        frameCount_ = CountGifFrames(data_);
        framesCounted_ = true;
    }
    return frameCount_;
}

void THTMLPicture::Decode()
{
    picture_.reset();
    const GifSelection selection = SelectGifFrame(data_, frame_);
    frame_ = selection.frame;
    framePosition_ = selection.position;
    screenWidth_ = selection.screenWidth;
    screenHeight_ = selection.screenHeight;
    try {
        picture_ = LoadOlePicture(selection.data);
        empty_ = false;
    } catch (const EPictureError&) {
        empty_ = true;
        throw;
    }
}

void THTMLPicture::Changed()
{
    if (OnChange)
        OnChange(*this);
}

TPictureItem& TPictureContainer::Add(const std::string& name)
{
    items_.push_back(std::make_unique<TPictureItem>());
    items_.back()->Name = name;
    return *items_.back();
}

THTMLPicture* TPictureContainer::FindPicture(std::string_view name) const
{
    for (const auto& item : items_)
        if (SameText(item->Name, name))
            return &item->Picture;
    return nullptr;
}

THTMLPicture* THTMLPictureCache::FindPicture(std::string_view url) const
{
    for (const auto& picture : pictures_)
        if (picture->URL == url)
            return picture.get();
    return nullptr;
}

THTMLPicture& THTMLPictureCache::AddPicture()
{
    pictures_.push_back(std::make_unique<THTMLPicture>());
    return *pictures_.back();
}
