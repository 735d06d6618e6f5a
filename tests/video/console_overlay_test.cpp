// Where the console over the game puts its backdrop, lines and caret.
#include <gtest/gtest.h>

#include <string>

#include "input/game_console.h"
#include "video/console_overlay.h"

namespace {

// Every character 8 pixels wide, as a fixed-pitch font draws them.
float EightEach(const char* text) { return 8.0f * static_cast<float>(std::string(text).size()); }

}  // namespace

TEST(ConsoleOverlay, NewestLinesSitAboveTheEditLineAndTheCaretFollowsIt) {
    GameConsole console;  // not the engine's: nothing printed reaches it
    console.AddOutputLine("first");
    console.AddOutputLine("second");
    console.AddOutputLine("third");
    console.Open();
    console.TakeText("fob");
    console.TakeKey(203, true, false);  // left: the caret goes before the b
    console.TakeKey(203, false, false);

    ConsoleOverlayContent content;
    console.FillOverlay(&content);
    EXPECT_TRUE(content.open);
    const ConsoleOverlayLayout layout = LayOutGameConsole(content, 800, 600, 16.0f, EightEach);
    EXPECT_EQ(layout.backdrop.x1, 0);
    EXPECT_EQ(layout.backdrop.y1, 0);
    EXPECT_EQ(layout.backdrop.x2, 800);
    EXPECT_EQ(layout.backdrop.y2, 300);
    ASSERT_EQ(layout.texts.size(), 5u);
    EXPECT_EQ(layout.texts[0].text, "first");
    EXPECT_FLOAT_EQ(layout.texts[0].y, 232.0f);
    EXPECT_EQ(layout.texts[2].text, "third");
    EXPECT_FLOAT_EQ(layout.texts[2].y, 264.0f);
    EXPECT_EQ(layout.texts[2].colour, kConsoleOutputColour);
    EXPECT_EQ(layout.texts[3].text, "] fob");
    EXPECT_FLOAT_EQ(layout.texts[3].y, 280.0f);
    EXPECT_EQ(layout.texts[4].text, "_");
    EXPECT_FLOAT_EQ(layout.texts[4].x, 10.0f + 8.0f * 4);  // after "] fo"
    EXPECT_FLOAT_EQ(layout.texts[4].y, 280.0f);
}

TEST(ConsoleOverlay, OnlyTheNewestLinesThatFitAreShown) {
    GameConsole console;
    for (int i = 0; i < GameConsole::kMaxLines + 5; ++i) console.AddOutputLine(std::to_string(i).c_str());
    EXPECT_EQ(console.LineCount(), GameConsole::kMaxLines);
    EXPECT_STREQ(console.OutputLine(0), "5");  // the oldest went
    console.AddOutputLine(std::string(500, 'x').c_str());
    EXPECT_EQ(std::string(console.OutputLine(console.LineCount() - 1)), std::string(GameConsole::kLineChars, 'x'));

    // A 200-pixel-high window: 100 pixels of console, the edit line at 80,
    // five lines of 16 above it.
    ConsoleOverlayContent content;
    console.FillOverlay(&content);
    const ConsoleOverlayLayout layout = LayOutGameConsole(content, 320, 200, 16.0f, EightEach);
    ASSERT_EQ(layout.texts.size(), 7u);
    EXPECT_FLOAT_EQ(layout.texts[0].y, 0.0f);
    EXPECT_EQ(layout.texts[0].text, std::to_string(GameConsole::kMaxLines + 1));
    EXPECT_EQ(layout.texts[4].text, std::string(GameConsole::kLineChars, 'x'));
    EXPECT_EQ(layout.texts[5].text, "] ");
}
