#include "platform/sdl/dialog_fonts.h"

#include <imgui.h>

#include <cfloat>
#include <string>

#include "platform/font_files.h"
#include "platform/startup_dialog.h"

namespace {

// Liberation Sans keeps Arial's metrics, the nearest of the installed faces
// to the dialog font; fontconfig answers with its closest outline face when
// it is missing.
std::string FindDialogFontFile() {
    FontFile font;
    return FindOutlineFont("Liberation Sans", &font) ? font.path : std::string();
}

}  // namespace

DialogFonts LoadDialogFonts(ImFontAtlas* atlas) {
    DialogFonts fonts;
    const std::string file = FindDialogFontFile();
    for (float size : kDialogFontSizes) {
        ImFont* font = nullptr;
        if (!file.empty()) font = atlas->AddFontFromFileTTF(file.c_str(), size);
        if (font == nullptr) {
            ImFontConfig config;
            config.SizePixels = size;
            font = atlas->AddFontDefault(&config);
        }
        fonts.bySize.push_back(font);
    }
    return fonts;
}

float ComboTextRoom(float comboWidth, float fontSize, const ImGuiStyle& style) {
    // The arrow button is a square as tall as the frame; the text starts
    // after the left padding, and the same padding is kept before the arrow
    // so that a long entry does not touch it.
    const float arrow = fontSize + style.FramePadding.y * 2.0f;
    return comboWidth - arrow - style.FramePadding.x * 2.0f;
}

ImFont* ComboFont(const DialogFonts& fonts, const DialogControl& combo, const ImGuiStyle& style) {
    for (ImFont* font : fonts.bySize) {
        float widest = 0.0f;
        for (const std::string& item : combo.items) {
            const ImVec2 size = font->CalcTextSizeA(font->FontSize, FLT_MAX, 0.0f, item.c_str());
            if (size.x > widest) widest = size.x;
        }
        if (widest <= ComboTextRoom(static_cast<float>(combo.pixelWidth), font->FontSize, style)) {
            return font;
        }
    }
    return fonts.bySize.empty() ? nullptr : fonts.bySize.back();
}
