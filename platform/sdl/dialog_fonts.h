// The start-up dialog's fonts. The dialog was laid out for a small
// sans-serif face of 13-pixel lines; here that is an outline font found
// through fontconfig, loaded in a few sizes so that each combo box can use the
// largest one in which every one of its entries is shown whole within the
// box's fixed width.
#pragma once

#include <vector>

struct DialogControl;
struct ImFont;
struct ImFontAtlas;
struct ImGuiStyle;

// Line heights in pixels, largest first; the first is the dialog's own font.
constexpr float kDialogFontSizes[] = {13.0f, 12.0f, 11.0f, 10.0f, 9.0f};

struct DialogFonts {
    std::vector<ImFont*> bySize;  // in the order of kDialogFontSizes
};

// Adds the fonts to the atlas (the first becomes the atlas's default font).
// Without an outline font ImGui's own font stands in, scaled to each size.
DialogFonts LoadDialogFonts(ImFontAtlas* atlas);

// How much of a combo box's width shows its text: what the arrow button and
// the frame's padding leave (ImGui clips the shown entry there).
float ComboTextRoom(float comboWidth, float fontSize, const ImGuiStyle& style);

// The largest font in which every entry of the combo box fits its text room;
// the smallest when none does. The atlas must have been built.
ImFont* ComboFont(const DialogFonts& fonts, const DialogControl& combo, const ImGuiStyle& style);
