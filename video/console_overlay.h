// The in-game console as the renderer draws it over the finished frame: a
// dark backdrop over the top half of the window, the newest printed lines
// from the bottom of it upwards, and the edit line with its caret under them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "video/d3d9/d3d9.h"

constexpr D3DCOLOR kConsoleBackdropColour = 0xFF182038;
constexpr D3DCOLOR kConsoleOutputColour = 0xFFC8C8C8;
constexpr D3DCOLOR kConsoleInputColour = 0xFFFFFFFF;

struct ConsoleOverlayText {
    float x = 0.0f;
    float y = 0.0f;
    D3DCOLOR colour = 0;
    std::string text;
};

struct ConsoleOverlayLayout {
    D3DRECT backdrop{0, 0, 0, 0};
    std::vector<ConsoleOverlayText> texts;  // output lines oldest first, then the edit line and caret
};

// What the overlay shows of the in-game console, as plain data.
struct ConsoleOverlayContent {
    bool open = false;
    std::vector<const char*> lines;  // the printed lines it keeps, oldest first
    const char* editLine = "";
    size_t cursor = 0;  // the caret, in bytes into editLine
};

// measure gives the width the overlay font draws a text at.
ConsoleOverlayLayout LayOutGameConsole(const ConsoleOverlayContent& console, int32_t width, int32_t height,
                                       float lineHeight, const std::function<float(const char*)>& measure);

// Fills content with what the in-game console holds now: whether it is open
// and, while it is, its lines, edit line and caret. The console (input/)
// installs it when the program's globals are constructed; with none, no
// console is drawn.
using ConsoleOverlaySource = void (*)(ConsoleOverlayContent* content);
void SetConsoleOverlaySource(ConsoleOverlaySource source);

// Draws the console when it is open, through the overlay font.
void DrawGameConsole(IDirect3DDevice9* device, int32_t width, int32_t height);
