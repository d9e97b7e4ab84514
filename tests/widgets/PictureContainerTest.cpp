#include "widgets/PictureContainer.h"

#include "common/ScratchFolder.h"
#include "common/WineSupport.h"
#include "common/AppPaths.h"
#include "markup/TestImages.h"
#include "winutil/ComApartment.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// Renders the picture into a white bitmap and reads one pixel.
COLORREF RenderedPixel(const THTMLPicture& picture, int x, int y, int width = 16, int height = 16)
{
    const MemoryBitmap bitmap(width, height);
    const RECT all = {0, 0, width, height};
    FillRect(bitmap.dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    picture.Draw(bitmap.dc(), all);
    return GetPixel(bitmap.dc(), x, y);
}

bool Near(COLORREF actual, int red, int green, int blue)
{
    return std::abs(GetRValue(actual) - red) < 40 && std::abs(GetGValue(actual) - green) < 40 &&
           std::abs(GetBValue(actual) - blue) < 40;
}

std::string WriteFile(const ScratchFolder& folder, const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    const std::string path = folder.PathOf(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return path;
}

class PictureTest : public ::testing::Test {
protected:
    ComApartment apartment;
    ScratchFolder folder{"kdpic"};
};

} // namespace

TEST_F(PictureTest, BitmapLoadsThroughOle)
{
    THTMLPicture picture;
    int changes = 0;
    picture.OnChange = [&](THTMLPicture&) { ++changes; };
    picture.LoadFromBytes(MakeBmp(8, 6, 255, 0, 0));
    EXPECT_FALSE(picture.Empty());
    EXPECT_EQ(picture.Width(), 8);
    EXPECT_EQ(picture.Height(), 6);
    EXPECT_EQ(picture.FrameCount(), -1) << "not a GIF";
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(Near(RenderedPixel(picture, 2, 2), 255, 0, 0));
    EXPECT_TRUE(Near(RenderedPixel(picture, 12, 12), 255, 255, 255)) << "natural size without Stretch";
    picture.Stretch = true;
    EXPECT_TRUE(Near(RenderedPixel(picture, 12, 12), 255, 0, 0));

    THTMLPicture copy;
    copy.Assign(&picture);
    EXPECT_EQ(copy.Data(), picture.Data());
    EXPECT_EQ(copy.Width(), 8);
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(copy.Width(), 0);
}

TEST_F(PictureTest, JpegLoadsFromFileAndUrl)
{
    const std::string path = GetAppFolder() + "blue8x8.jpg";
    THTMLPicture picture;
    picture.LoadFromFile(path);
    ASSERT_FALSE(picture.Empty());
    EXPECT_EQ(picture.Width(), 8);
    EXPECT_TRUE(Near(RenderedPixel(picture, 3, 3), 0, 0, 255));

    THTMLPicture byUrl;
    byUrl.LoadFromURL("file://" + path);
    EXPECT_FALSE(byUrl.Empty());
    EXPECT_EQ(byUrl.URL, "file://" + path);

    THTMLPicture resource;
    resource.LoadFromURL("res://BLUEJPG");
    ASSERT_FALSE(resource.Empty()) << "the program's RCDATA resource";
    EXPECT_EQ(resource.Data(), picture.Data());
}

TEST_F(PictureTest, ThreeFrameGifSelectsItsFrames)
{
    THTMLPicture picture;
    int frameChanges = 0;
    picture.OnFrameChange = [&](THTMLPicture&) { ++frameChanges; };
    picture.LoadFromBytes(MakeGif(10, 9, {1, 2, 3}));
    ASSERT_FALSE(picture.Empty());
    EXPECT_EQ(picture.FrameCount(), 3);
    EXPECT_EQ(picture.LayoutWidth(), 10);
    EXPECT_EQ(picture.LayoutHeight(), 9);
    EXPECT_TRUE(Near(RenderedPixel(picture, 4, 4), 255, 0, 0));
    picture.SetFrame(2);
    EXPECT_EQ(picture.Frame(), 2);
    EXPECT_TRUE(Near(RenderedPixel(picture, 4, 4), 0, 255, 0));
    picture.SetFrame(99);
    EXPECT_EQ(picture.Frame(), 3) << "clamped";
    EXPECT_TRUE(Near(RenderedPixel(picture, 4, 4), 0, 0, 255));
    EXPECT_EQ(frameChanges, 2);
}

TEST_F(PictureTest, BrokenPicturesStayEmpty)
{
    THTMLPicture picture;
    std::vector<std::uint8_t> gif = MakeGif(4, 4, {1, 2, 3});
    gif.resize(40);
    EXPECT_THROW(picture.LoadFromBytes(gif), EPictureError);
    EXPECT_TRUE(picture.Empty());
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_THROW(picture.LoadFromBytes({'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}), EPictureError);
    EXPECT_TRUE(picture.Empty());

    THTMLPicture fromFile;
    fromFile.LoadFromFile(WriteFile(folder, "broken.gif", gif));
    EXPECT_TRUE(fromFile.Empty()) << "a file that does not decode leaves the picture empty";
    fromFile.LoadFromURL("FILE://" + folder.PathOf("missing.bmp"));
    EXPECT_TRUE(fromFile.Empty());
    fromFile.LoadFromURL("RES://NO_SUCH_RESOURCE");
    EXPECT_TRUE(fromFile.Empty());

    THTMLPicture web;
    web.LoadFromURL("http://127.0.0.1:1/picture.gif");
    EXPECT_TRUE(web.Empty()) << "pictures are not fetched from the network";
    EXPECT_TRUE(web.DownloadBusy());
}

TEST_F(PictureTest, ContainerAndCacheLookups)
{
    TPictureContainer container;
    container.Add("Logo").Picture.LoadFromBytes(MakeBmp(2, 2, 0, 0, 0));
    container.Add("logo").Tag = 7;
    EXPECT_EQ(container.FindPicture("LOGO"), &container.FindPicture("Logo")[0]);
    EXPECT_FALSE(container.FindPicture("LOGO")->Empty()) << "the first match wins";
    EXPECT_EQ(container.FindPicture("other"), nullptr);

    THTMLPictureCache cache;
    THTMLPicture& added = cache.AddPicture();
    added.URL = "http://x/A.gif";
    EXPECT_EQ(cache.FindPicture("http://x/A.gif"), &added);
    EXPECT_EQ(cache.FindPicture("http://x/a.gif"), nullptr) << "URLs match exactly";
}
