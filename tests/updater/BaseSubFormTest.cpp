#include "updater/BaseSubFormUnit.h"
#include "updater/Settings.h"

#include "common/ScratchFolder.h"
#include "common/WineSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

constexpr const char* kSection = "TestWindow";

// A window with one alpha button per registered resource name.
class GlyphForm : public TBaseSubForm {
public:
    explicit GlyphForm(std::vector<std::string> names, bool* destroyed = nullptr)
        : names_(std::move(names)), destroyed_(destroyed)
    {
    }
    ~GlyphForm() override
    {
        buttons.clear();
        if (destroyed_)
            *destroyed_ = true;
    }

    // A handler that closes its own window and then goes on pumping messages.
    void CloseFromHandler(bool& aliveAfterPump)
    {
        HandlerScope scope(*this);
        Close();
        PumpMessagesFor(100);
        aliveAfterPump = !*destroyed_;
    }
    // Two handlers, the inner one closing, the outer one pumping after it returned.
    void CloseFromNestedHandler(bool& aliveAfterInner)
    {
        HandlerScope outer(*this);
        {
            HandlerScope inner(*this);
            Close();
        }
        PumpMessagesFor(100);
        aliveAfterInner = !*destroyed_;
    }

    std::vector<std::unique_ptr<TAlphaButton>> buttons;

protected:
    void FormCreate() override
    {
        for (const std::string& name : names_)
            buttons.push_back(std::make_unique<TAlphaButton>(Host(), name));
        TBaseSubForm::FormCreate();
    }
    void RegisterGlyphs(GlyphList& glyphs) override
    {
        for (std::size_t i = 0; i < names_.size(); ++i)
            glyphs.push_back({names_[i], buttons[i].get()});
    }

private:
    std::vector<std::string> names_;
    bool* destroyed_;
};

RECT BoundsOf(HWND window)
{
    RECT bounds = {};
    GetWindowRect(window, &bounds);
    return bounds;
}

RECT NormalBoundsOf(HWND window)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    return placement.rcNormalPosition;
}

// A shown window of the test form with its placement in the given file.
std::unique_ptr<GlyphForm> ShownForm(const std::string& file)
{
    auto form = std::make_unique<GlyphForm>(std::vector<std::string>{});
    form->Create();
    form->SetPlacementFile(file);
    form->SetPlacementSection(kSection);
    form->Show();
    return form;
}

} // namespace

TEST(BaseSubFormTest, CreationLoadsTheRegisteredGlyphs)
{
    GlyphForm form({"BALL_OK", "BALL_CANCEL"});
    form.Create();
    ASSERT_NE(form.Handle(), nullptr);
    ASSERT_EQ(form.buttons.size(), 2u);
    for (const auto& button : form.buttons) {
        const Image32& glyph = button->Glyph().Image();
        EXPECT_EQ(glyph.width, 24);
        EXPECT_EQ(glyph.height, 24);
        EXPECT_EQ(AlphaOf(glyph.At(0, 0)), 0) << "the corners are transparent";
        EXPECT_EQ(AlphaOf(glyph.At(12, 12)), 255);
        EXPECT_GT(AlphaOf(glyph.At(1, 8)), 0) << "the edge is soft";
        EXPECT_LT(AlphaOf(glyph.At(1, 8)), 255);
    }
    EXPECT_NE(form.buttons[0]->Glyph().Image().pixels, form.buttons[1]->Glyph().Image().pixels);
    EXPECT_EQ(form.GetDescription(), "[No description]");
    wchar_t caption[64] = {};
    GetWindowTextW(form.Handle(), caption, 64);
    EXPECT_STREQ(caption, L"BaseSubForm");
    const RECT bounds = BoundsOf(form.Handle());
    EXPECT_EQ(bounds.right - bounds.left, 206);
    EXPECT_EQ(bounds.bottom - bounds.top, 129);
}

TEST(BaseSubFormTest, AMissingGlyphFailsTheCreationAndLeavesNoWindow)
{
    GlyphForm none({});
    none.Create();
    EXPECT_NE(none.Handle(), nullptr) << "a window without glyphs loads no resources";

    GlyphForm form({"BALL_OK", "BALL_MISSING"});
    try {
        form.Create();
        ADD_FAILURE() << "the creation succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "resource \"BALL_MISSING\" of type \"BMP32\" not found");
    }
    EXPECT_EQ(form.Handle(), nullptr);
}

TEST(BaseSubFormTest, SettingsReadZeroForMissingOrBadValues)
{
    ScratchFolder scratch("settings");
    const std::string file = scratch.AddFile("placement.ini", "[S]\nGood=42\nBad=4x\nNegative=-7\n");
    const TSettings settings(file);
    EXPECT_EQ(settings.FileName(), file);
    EXPECT_EQ(settings.ReadInteger("S", "Good"), 42);
    EXPECT_EQ(settings.ReadInteger("S", "Negative"), -7);
    EXPECT_EQ(settings.ReadInteger("S", "Bad"), 0);
    EXPECT_EQ(settings.ReadInteger("S", "Missing"), 0);
    EXPECT_EQ(TSettings(scratch.PathOf("none.ini")).ReadInteger("S", "Good"), 0);
    EXPECT_TRUE(settings.WriteInteger("S", "Written", 123));
    EXPECT_EQ(TSettings(file).ReadInteger("S", "Written"), 123) << "each write reaches the file";
}

TEST(BaseSubFormTest, PlacementIsSavedAndRestored)
{
    ScratchFolder scratch("placement");
    const std::string file = scratch.PathOf("placement.ini");
    {
        auto form = ShownForm(file);
        SetWindowPos(form->Handle(), nullptr, 110, 120, 300, 200, SWP_NOZORDER);
        form->SavePlacement();
    }
    const TSettings stored(file);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowLeft"), 110);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowTop"), 120);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowWidth"), 300);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowHeight"), 200);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowState"), 0);

    auto form = ShownForm(file);
    form->LoadPlacement();
    const RECT bounds = BoundsOf(form->Handle());
    EXPECT_EQ(bounds.left, 110);
    EXPECT_EQ(bounds.top, 120);
    EXPECT_EQ(bounds.right, 410);
    EXPECT_EQ(bounds.bottom, 320);
    EXPECT_EQ(form->WindowState(), TWindowState::wsNormal);
}

TEST(BaseSubFormTest, AMaximisedWindowStoresItsRestoredBounds)
{
    ScratchFolder scratch("maximised");
    const std::string file = scratch.PathOf("placement.ini");
    {
        auto form = ShownForm(file);
        SetWindowPos(form->Handle(), nullptr, 130, 140, 250, 150, SWP_NOZORDER);
        form->SetWindowState(TWindowState::wsMaximized);
        ASSERT_TRUE(IsZoomed(form->Handle()));
        form->SavePlacement();
    }
    const TSettings stored(file);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowState"), 2);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowLeft"), 130);
    EXPECT_EQ(stored.ReadInteger(kSection, "WindowWidth"), 250);

    auto form = ShownForm(file);
    form->LoadPlacement();
    EXPECT_TRUE(IsZoomed(form->Handle()));
    const RECT normal = NormalBoundsOf(form->Handle());
    EXPECT_EQ(normal.left, 130);
    EXPECT_EQ(normal.top, 140);
    EXPECT_EQ(normal.right, 380);
    EXPECT_EQ(normal.bottom, 290);
}

TEST(BaseSubFormTest, BoundsAreRestoredOnlyWhenAllFourAreNonZero)
{
    ScratchFolder scratch("zeros");
    const char* const keys[] = {"WindowLeft", "WindowTop", "WindowWidth", "WindowHeight"};
    for (const char* zeroKey : keys) {
        const std::string file = scratch.PathOf(std::string(zeroKey) + ".ini");
        const TSettings stored(file);
        stored.WriteInteger(kSection, "WindowLeft", 150);
        stored.WriteInteger(kSection, "WindowTop", 160);
        stored.WriteInteger(kSection, "WindowWidth", 220);
        stored.WriteInteger(kSection, "WindowHeight", 170);
        stored.WriteInteger(kSection, zeroKey, 0);
        stored.WriteInteger(kSection, "WindowState", 2);
        auto form = ShownForm(file);
        SetWindowPos(form->Handle(), nullptr, 40, 50, 260, 180, SWP_NOZORDER);
        form->LoadPlacement();
        EXPECT_TRUE(IsZoomed(form->Handle())) << zeroKey << ": the state is restored all the same";
        const RECT normal = NormalBoundsOf(form->Handle());
        EXPECT_EQ(normal.left, 40) << zeroKey;
        EXPECT_EQ(normal.right - normal.left, 260) << zeroKey;
    }
    // A first run: nothing stored, nothing changed, the window stays normal.
    auto form = ShownForm(scratch.PathOf("empty.ini"));
    SetWindowPos(form->Handle(), nullptr, 40, 50, 260, 180, SWP_NOZORDER);
    form->LoadPlacement();
    EXPECT_EQ(form->WindowState(), TWindowState::wsNormal);
    EXPECT_EQ(BoundsOf(form->Handle()).left, 40);
}

TEST(BaseSubFormTest, AWindowAtTheScreenEdgeGetsOnlyItsStateBack)
{
    ScratchFolder scratch("edge");
    const std::string file = scratch.PathOf("placement.ini");
    {
        auto form = ShownForm(file);
        SetWindowPos(form->Handle(), nullptr, 0, 100, 240, 160, SWP_NOZORDER);
        form->SetWindowState(TWindowState::wsMinimized);
        form->SavePlacement();
    }
    EXPECT_EQ(TSettings(file).ReadInteger(kSection, "WindowLeft"), 0);
    EXPECT_EQ(TSettings(file).ReadInteger(kSection, "WindowState"), 1);
    auto form = ShownForm(file);
    SetWindowPos(form->Handle(), nullptr, 60, 70, 200, 150, SWP_NOZORDER);
    form->LoadPlacement();
    EXPECT_TRUE(IsIconic(form->Handle()));
    EXPECT_EQ(NormalBoundsOf(form->Handle()).left, 60);
}

TEST(BaseSubFormTest, AHiddenWindowTakesItsStateWhenShown)
{
    GlyphForm form({});
    form.Create();
    form.SetWindowState(TWindowState::wsMaximized);
    EXPECT_FALSE(IsWindowVisible(form.Handle()));
    EXPECT_EQ(form.WindowState(), TWindowState::wsMaximized);
    form.Show();
    EXPECT_TRUE(IsZoomed(form.Handle()));
}

TEST(BaseSubFormTest, AWindowThatFreesItselfWaitsForItsRunningHandlers)
{
    bool destroyed = false;
    auto* form = new GlyphForm({"BALL_OK"}, &destroyed);
    form->Create();
    form->SetFreeOnClose(true);
    form->Show();
    bool aliveAfterPump = false;
    form->CloseFromHandler(aliveAfterPump);
    EXPECT_TRUE(aliveAfterPump) << "freed while its handler was still running";
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(PumpUntil([&] { return destroyed; }, 30000));

    destroyed = false;
    form = new GlyphForm({}, &destroyed);
    form->Create();
    form->SetFreeOnClose(true);
    bool aliveAfterInner = false;
    form->CloseFromNestedHandler(aliveAfterInner);
    EXPECT_TRUE(aliveAfterInner);
    EXPECT_TRUE(PumpUntil([&] { return destroyed; }, 30000));

    // Closed from outside any handler: freed from the message loop, not at once.
    destroyed = false;
    form = new GlyphForm({}, &destroyed);
    form->Create();
    form->SetFreeOnClose(true);
    const HWND window = form->Handle();
    form->Close();
    EXPECT_FALSE(destroyed);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(PumpUntil([&] { return destroyed; }, 30000));
    EXPECT_FALSE(IsWindow(window));
}

TEST(BaseSubFormTest, AWindowNotMarkedToFreeItselfIsOnlyHidden)
{
    GlyphForm form({});
    form.Create();
    form.Show();
    form.Close();
    PumpMessagesFor(50);
    EXPECT_TRUE(IsWindow(form.Handle()));
    EXPECT_FALSE(IsWindowVisible(form.Handle()));
}
