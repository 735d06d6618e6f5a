#include "video/console_overlay.h"

#include <algorithm>

#include "video/text_overlay.h"

namespace {

constexpr float kMargin = 10.0f;
constexpr const char* kPrompt = "] ";

constinit ConsoleOverlaySource s_source = nullptr;

}  // namespace

void SetConsoleOverlaySource(ConsoleOverlaySource source) { s_source = source; }

ConsoleOverlayLayout LayOutGameConsole(const ConsoleOverlayContent& console, int32_t width, int32_t height,
                                       float lineHeight, const std::function<float(const char*)>& measure) {
    ConsoleOverlayLayout layout;
    const int32_t bottom = std::max<int32_t>(height / 2, 0);
    layout.backdrop = D3DRECT{0, 0, std::max<int32_t>(width, 0), bottom};
    if (lineHeight <= 0.0f) lineHeight = 1.0f;

    const float inputY = static_cast<float>(bottom) - lineHeight - 4.0f;
    // As many of the newest lines as fit between the top and the edit line.
    const int lineCount = static_cast<int>(console.lines.size());
    int shown = 0;
    while (shown < lineCount && inputY - lineHeight * static_cast<float>(shown + 1) >= 0.0f) ++shown;
    for (int i = 0; i < shown; ++i) {
        const int index = lineCount - shown + i;
        const float y = inputY - lineHeight * static_cast<float>(shown - i);
        layout.texts.push_back({kMargin, y, kConsoleOutputColour, console.lines[static_cast<size_t>(index)]});
    }

    const char* text = console.editLine;
    const std::string typedBeforeCaret = std::string(kPrompt) + std::string(text, console.cursor);
    layout.texts.push_back({kMargin, inputY, kConsoleInputColour, std::string(kPrompt) + text});
    layout.texts.push_back({kMargin + measure(typedBeforeCaret.c_str()), inputY, kConsoleInputColour, "_"});
    return layout;
}

void DrawGameConsole(IDirect3DDevice9* device, int32_t width, int32_t height) {
    OverlayFont* font = GetOverlayFont();
    if (device == nullptr || font == nullptr || s_source == nullptr) return;
    // Kept from frame to frame: a closed console costs no heap work.
    static ConsoleOverlayContent content;
    content.lines.clear();
    s_source(&content);
    if (!content.open) return;
    const ConsoleOverlayLayout layout =
        LayOutGameConsole(content, width, height, font->LineHeight(),
                          [font](const char* text) { return font->MeasureText(text); });
    if (layout.backdrop.x2 > layout.backdrop.x1 && layout.backdrop.y2 > layout.backdrop.y1) {
        device->Clear(1, &layout.backdrop, D3DCLEAR_TARGET, kConsoleBackdropColour, 1.0f, 0);
    }
    for (const ConsoleOverlayText& text : layout.texts) {
        DrawOverlayText(text.x, text.y, text.colour, "%s", text.text.c_str());
    }
}
