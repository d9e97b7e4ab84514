// What the layout tells a canvas about links (keyboard focus and screen
// readers find them there) and how its list indent follows the DPI.
#include "markup/HTMLLayout.h"

#include "markup/FakeCanvas.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Arial 10 on the fake canvas: 5 pixels a character, 12 a line.
constexpr int kChar = 5;
constexpr int kLine = 12;

// The fake canvas at a DPI of choice, noting every placed run of a link.
class LinkCanvas : public FakeCanvas {
public:
    struct Place {
        int link;
        std::string address;
        std::string text;
        MarkupRect rect;
    };

    explicit LinkCanvas(int dpi = 96) : dpi_(dpi) {}
    int DpiX() const override { return dpi_; }
    int DpiY() const override { return dpi_; }
    void LinkPlaced(int link, std::string_view address, std::string_view text, const MarkupRect& rect) override
    {
        places.push_back({link, std::string(address), std::string(text), rect});
    }

    std::vector<Place> places;

private:
    int dpi_;
};

HTMLDrawResult Lay(LinkCanvas& canvas, std::string_view text, bool hitTestOnly, int width = 400)
{
    HTMLDrawParams params;
    params.text = text;
    params.rect = {0, 0, width, 400};
    params.hitTestOnly = hitTestOnly;
    params.mouseX = params.mouseY = -1;
    return DrawHTMLText(canvas, params);
}

} // namespace

TEST(HTMLLayoutLinksTest, EveryPlacedRunOfALinkIsToldWithItsAddressAndPlace)
{
    // The second link wraps: "aaaa bbbb" does not fit in 40 pixels after "x ".
    const std::string text = "<a href=\"http://one\">one</a> x <a href=\"mailto:two\">aaaa bbbb</a>"
                             "<z><a href=\"hidden\">gone</a></z><a href=\"pic\"><img src=\"p\"></a>";
    LinkCanvas drawing;
    drawing.AddPicture("p", {8, 8});
    const HTMLDrawResult drawn = Lay(drawing, text, /*hitTestOnly=*/false, 40);
    LinkCanvas hitTesting;
    hitTesting.AddPicture("p", {8, 8});
    Lay(hitTesting, text, /*hitTestOnly=*/true, 40);

    ASSERT_EQ(drawing.places.size(), hitTesting.places.size()) << "drawing and hit-testing place the same";
    for (std::size_t i = 0; i < drawing.places.size(); ++i)
        EXPECT_EQ(drawing.places[i].rect, hitTesting.places[i].rect) << i;
    std::vector<int> links;
    std::string second;
    for (const LinkCanvas::Place& place : drawing.places) {
        links.push_back(place.link);
        if (place.link == 2) {
            EXPECT_EQ(place.address, "mailto:two");
            second += place.text;
        }
    }
    EXPECT_EQ(links, (std::vector<int>{1, 2, 2, 4})) << "a hidden link places nothing, yet keeps its number";
    EXPECT_EQ(second, "aaaa bbbb");
    const LinkCanvas::Place& first = drawing.places[0];
    EXPECT_EQ(first.address, "http://one");
    EXPECT_EQ(first.text, "one");
    EXPECT_EQ(first.rect, (MarkupRect{0, 0, 3 * kChar, kLine}));
    EXPECT_LT(drawing.places[1].rect.top, drawing.places[2].rect.top) << "the wrapped link's runs on two lines";
    EXPECT_EQ(drawing.places[3].text, "") << "a picture of a link is placed without text";
    EXPECT_EQ(drawing.places[3].rect.Width(), 8);
    EXPECT_EQ(drawn.linkCount, 4);
}

TEST(HTMLLayoutLinksTest, TheListIndentGrowsWithTheDpiAsTheFontsDo)
{
    const auto firstTextLeft = [](int dpi, std::string_view text) {
        LinkCanvas canvas(dpi);
        Lay(canvas, text, /*hitTestOnly=*/false);
        return canvas.texts.empty() ? -1 : canvas.texts.back().rect.left;
    };
    EXPECT_EQ(firstTextLeft(96, "<ul><li>item</li></ul>"), 12);
    EXPECT_EQ(firstTextLeft(144, "<ul><li>item</li></ul>"), 18);
    EXPECT_EQ(firstTextLeft(192, "<ul><ul><li>item</li></ul></ul>"), 48) << "two levels at 200 %";
    // A canvas that reports nonsense stays within bounds.
    EXPECT_GE(firstTextLeft(0, "<ul><li>item</li></ul>"), 0);
    EXPECT_LE(firstTextLeft(1 << 30, "<ul><li>item</li></ul>"), 12 * 16);
}
