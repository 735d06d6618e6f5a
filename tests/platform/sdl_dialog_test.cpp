// The window parts of the start-up dialog and the debug console that need no
// window: which keys they take from SDL and the fonts of the dialog's combo
// boxes.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cfloat>
#include <utility>
#include <string>

#include "platform/sdl/dialog_fonts.h"
#include "platform/sdl/sdl_keys.h"
#include "platform/startup_dialog.h"

namespace {

// An ImGui context of its own with the dialog's fonts, built; the previous
// context comes back afterwards.
class DialogFontsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = ImGui::GetCurrentContext();
        context_ = ImGui::CreateContext();
        ImGui::SetCurrentContext(context_);
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(static_cast<float>(StartupDialog::UnitsToPixelsX(StartupDialog::kWidthUnits)),
                                static_cast<float>(StartupDialog::UnitsToPixelsY(StartupDialog::kHeightUnits)));
        io.DeltaTime = 1.0f / 60.0f;
        fonts = LoadDialogFonts(io.Fonts);
        unsigned char* pixels = nullptr;
        int width = 0, height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
        dialog.Initialise();
    }
    void TearDown() override {
        ImGui::DestroyContext(context_);
        ImGui::SetCurrentContext(previous_);
    }

    static float Widest(ImFont* font, const DialogControl& combo) {
        float widest = 0.0f;
        for (const std::string& item : combo.items) {
            widest = std::max(widest, font->CalcTextSizeA(font->FontSize, FLT_MAX, 0.0f, item.c_str()).x);
        }
        return widest;
    }

    DialogFonts fonts;
    StartupDialog dialog;

private:
    ImGuiContext* previous_ = nullptr;
    ImGuiContext* context_ = nullptr;
};

}  // namespace

TEST(SdlKeys, EnterKeypadEnterAndEscapeAreTheDialogsKeysAndNothingElse) {
    DialogKey key = DialogKey::kEscape;
    ASSERT_TRUE(DialogKeyFor(SDLK_RETURN, &key));
    EXPECT_EQ(key, DialogKey::kEnter);
    ASSERT_TRUE(DialogKeyFor(SDLK_KP_ENTER, &key));
    EXPECT_EQ(key, DialogKey::kKeypadEnter);
    ASSERT_TRUE(DialogKeyFor(SDLK_ESCAPE, &key));
    EXPECT_EQ(key, DialogKey::kEscape);
    // ImGui's key numbers for Enter and keypad Enter are J and L on the
    // keyboard; those, and the rest of the keys, press nothing.
    for (SDL_Keycode other : {SDLK_j, SDLK_l, SDLK_SPACE, SDLK_TAB, SDLK_KP_5, SDLK_BACKSPACE}) {
        EXPECT_FALSE(DialogKeyFor(other, &key)) << SDL_GetKeyName(other);
    }
}

TEST(SdlKeys, TheConsoleEditsWithItsKeysAndLeavesCharactersToTextEvents) {
    const std::pair<SDL_Keycode, ConsoleKey> keys[] = {
        {SDLK_RETURN, ConsoleKey::kEnter},  {SDLK_KP_ENTER, ConsoleKey::kEnter},
        {SDLK_BACKSPACE, ConsoleKey::kBackspace}, {SDLK_DELETE, ConsoleKey::kDelete},
        {SDLK_LEFT, ConsoleKey::kLeft},     {SDLK_RIGHT, ConsoleKey::kRight},
        {SDLK_HOME, ConsoleKey::kHome},     {SDLK_END, ConsoleKey::kEnd},
        {SDLK_UP, ConsoleKey::kUp},         {SDLK_DOWN, ConsoleKey::kDown},
        {SDLK_TAB, ConsoleKey::kTab},
    };
    for (const auto& [sdl, expected] : keys) {
        ConsoleKey key = expected == ConsoleKey::kTab ? ConsoleKey::kEnter : ConsoleKey::kTab;
        ASSERT_TRUE(ConsoleKeyFor(sdl, &key)) << SDL_GetKeyName(sdl);
        EXPECT_EQ(key, expected) << SDL_GetKeyName(sdl);
    }
    // Characters come as text events; Escape must not touch the line.
    ConsoleKey key;
    for (SDL_Keycode other : {SDLK_j, SDLK_l, SDLK_SPACE, SDLK_KP_5, SDLK_ESCAPE, SDLK_F1}) {
        EXPECT_FALSE(ConsoleKeyFor(other, &key)) << SDL_GetKeyName(other);
    }
}

TEST_F(DialogFontsTest, EveryComboShowsEachOfItsEntriesWholeInTheLargestFontThatAllows) {
    const ImGuiStyle& style = ImGui::GetStyle();
    ASSERT_EQ(fonts.bySize.size(), std::size(kDialogFontSizes));
    int combos = 0;
    for (const DialogControl& combo : dialog.Controls()) {
        if (combo.kind != ControlKind::kComboBox) continue;
        ++combos;
        ImFont* font = ComboFont(fonts, combo, style);
        ASSERT_NE(font, nullptr);
        const float room = ComboTextRoom(static_cast<float>(combo.pixelWidth), font->FontSize, style);
        EXPECT_LE(Widest(font, combo), room) << combo.id;
        // No larger font would have done.
        for (ImFont* larger : fonts.bySize) {
            if (larger == font) break;
            EXPECT_GT(Widest(larger, combo),
                      ComboTextRoom(static_cast<float>(combo.pixelWidth), larger->FontSize, style))
                << combo.id << " at " << larger->FontSize;
        }
    }
    EXPECT_EQ(combos, 4);
    // The short level names keep the dialog's own size; the longest render
    // path is what needed the smaller sizes in the first place.
    EXPECT_EQ(ComboFont(fonts, *dialog.Find(kIdLevel), style), fonts.bySize.front());
    EXPECT_NE(ComboFont(fonts, *dialog.Find(kIdRenderPath), style), fonts.bySize.front());
}

TEST_F(DialogFontsTest, TextRoomIsWhatImGuisComboLeavesBesideItsArrow) {
    // The room assumes the combo is as wide as asked and its arrow button a
    // square of the frame's height, whatever font is pushed.
    const DialogControl& combo = *dialog.Find(kIdRenderPath);
    for (ImFont* font : {fonts.bySize.front(), fonts.bySize.back()}) {
        ImGui::NewFrame();
        ImGui::Begin("probe");
        ImGui::PushFont(font);
        ImGui::SetNextItemWidth(static_cast<float>(combo.pixelWidth));
        if (ImGui::BeginCombo("##combo", combo.items[0].c_str())) ImGui::EndCombo();
        const ImVec2 size = ImGui::GetItemRectSize();
        EXPECT_FLOAT_EQ(size.x, static_cast<float>(combo.pixelWidth));
        EXPECT_FLOAT_EQ(size.y, ImGui::GetFrameHeight());
        EXPECT_FLOAT_EQ(ImGui::GetFrameHeight(), font->FontSize + ImGui::GetStyle().FramePadding.y * 2.0f);
        ImGui::PopFont();
        ImGui::End();
        ImGui::EndFrame();
    }
}
