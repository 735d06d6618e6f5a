// The debug console's edit line: keys applied in the order they came, the
// echo of what was sent, the history of typed lines and name completion.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/command_interpreter.h"
#include "platform/debug_console.h"
#include "support/test_support.h"
#include "video/video_cvars.h"

namespace {

class ConsoleEditing : public ::testing::Test {
protected:
    void TearDown() override {
        g_commandInterpreter.frame();  // nothing queued here outlives the test
        fov.floatValue = 90.0f;
    }
    // Types text and keys the way the window hands them over.
    void Type(const char* text) { console.InsertText(text); }
    void Press(ConsoleKey key, int times = 1) {
        for (int i = 0; i < times; ++i) console.HandleKey(key);
    }
    std::string Line() const { return console.Input(); }

    DebugConsole console;
    PrintCapture output;
};

}  // namespace

TEST_F(ConsoleEditing, KeysTypedWithinOneFrameAreEachAppliedInOrder) {
    // All of this arrives between two engine frames: the Enter after
    // "cvarl" and the Backspace after "fovx" must not be lost.
    Type("cvarl");
    Press(ConsoleKey::kEnter);
    Type("fovx");
    Press(ConsoleKey::kBackspace);
    Type(" 33");
    Press(ConsoleKey::kEnter);
    EXPECT_EQ(Line(), "");
    EXPECT_TRUE(output.Lines().empty());  // lines run, and echo, in the interpreter's frame

    g_commandInterpreter.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"] cvarl", "cvarl: Unknown command.", "] fov 33",
                                                        "fov set \"33.000000\""}));
}

TEST_F(ConsoleEditing, CaretMovesAndDeletesWithinTheLine) {
    Type("fov 6");
    Press(ConsoleKey::kLeft, 2);
    EXPECT_EQ(console.Cursor(), 3u);
    Press(ConsoleKey::kBackspace);
    EXPECT_EQ(Line(), "fo 6");
    Type("v");
    Press(ConsoleKey::kEnd);
    Type("0");
    EXPECT_EQ(Line(), "fov 60");
    Press(ConsoleKey::kHome);
    Press(ConsoleKey::kDelete);
    EXPECT_EQ(Line(), "ov 60");
    Type("f");
    Press(ConsoleKey::kRight, 10);  // stops at the end
    EXPECT_EQ(console.Cursor(), 6u);
    Press(ConsoleKey::kDelete);  // nothing after the caret
    Press(ConsoleKey::kHome);
    Press(ConsoleKey::kBackspace);  // nothing before it
    Press(ConsoleKey::kLeft);
    EXPECT_EQ(Line(), "fov 60");
    EXPECT_EQ(console.Cursor(), 0u);

    // A character of several bytes is one step and one deletion.
    Press(ConsoleKey::kEnd);
    Type("\xC3\xA9!");
    Press(ConsoleKey::kLeft, 2);
    EXPECT_EQ(console.Cursor(), 6u);
    Press(ConsoleKey::kDelete);
    EXPECT_EQ(Line(), "fov 60!");
    Type("\xE2\x82\xAC");
    Press(ConsoleKey::kBackspace);
    EXPECT_EQ(Line(), "fov 60!");
}

TEST_F(ConsoleEditing, TextIsHeldTo249CharactersWithoutControlCharacters) {
    Type("a\tb\x7F\x01" "c\x80");  // a tab, delete, a control and a stray byte: dropped
    EXPECT_EQ(Line(), "abc");
    Type(std::string(300, 'x').c_str());
    EXPECT_EQ(Line().size(), DebugConsole::kInputSize - 1);
    EXPECT_EQ(Line().substr(0, 4), "abcx");
    Press(ConsoleKey::kHome);
    Type("z");  // full: lost
    EXPECT_EQ(Line().substr(0, 4), "abcx");

    // One byte short of full: a two-byte character no longer fits, a plain one does.
    Press(ConsoleKey::kBackspace);
    Press(ConsoleKey::kEnd);
    Press(ConsoleKey::kBackspace);
    Type("\xC3\xA9");
    EXPECT_EQ(Line().size(), DebugConsole::kInputSize - 2);
    Type("q");
    EXPECT_EQ(Line().back(), 'q');

    // A pasted text goes in up to its first line break.
    Press(ConsoleKey::kEnter);
    console.Paste("fov 70\nquit\n");
    EXPECT_EQ(Line(), "fov 70");
    console.Paste(nullptr);
    EXPECT_EQ(Line(), "fov 70");
}

TEST_F(ConsoleEditing, UpAndDownWalkTheTypedLinesAndComeBackToTheDraft) {
    Press(ConsoleKey::kUp);  // no lines yet
    EXPECT_EQ(Line(), "");
    Type("fov 60");
    Press(ConsoleKey::kEnter);
    Press(ConsoleKey::kEnter);  // an empty line is neither sent nor kept
    Type("fov");
    Press(ConsoleKey::kEnter);
    Type("dra");

    Press(ConsoleKey::kUp);
    EXPECT_EQ(Line(), "fov");
    EXPECT_EQ(console.Cursor(), 3u);  // the caret at the end of the recalled line
    Press(ConsoleKey::kUp);
    EXPECT_EQ(Line(), "fov 60");
    Press(ConsoleKey::kUp);  // the oldest stays
    EXPECT_EQ(Line(), "fov 60");
    Press(ConsoleKey::kDown);
    EXPECT_EQ(Line(), "fov");
    Press(ConsoleKey::kDown);
    EXPECT_EQ(Line(), "dra");
    Press(ConsoleKey::kDown);
    EXPECT_EQ(Line(), "dra");

    // A recalled line is sent as typed and becomes the newest.
    Press(ConsoleKey::kUp, 2);
    Press(ConsoleKey::kEnter);
    Press(ConsoleKey::kUp);
    EXPECT_EQ(Line(), "fov 60");
    EXPECT_EQ(console.History().Size(), 3u);
    g_commandInterpreter.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"] fov 60", "fov set \"60.000000\"", "] fov",
                                                        "fov is \"60.000000\"", "] fov 60",
                                                        "fov set \"60.000000\""}));
}

TEST(LineHistory, KeepsTheLast32Lines) {
    LineHistory history;
    for (int i = 0; i < 40; ++i) history.Add("line " + std::to_string(i));
    EXPECT_EQ(history.Size(), LineHistory::kMaxLines);
    std::string line;
    std::vector<std::string> walked;
    while (history.Older("draft", &line)) walked.push_back(line);
    ASSERT_EQ(walked.size(), 32u);
    EXPECT_EQ(walked.front(), "line 39");
    EXPECT_EQ(walked.back(), "line 8");
    int newer = 0;
    while (history.Newer(&line)) ++newer;
    EXPECT_EQ(newer, 32);
    EXPECT_EQ(line, "draft");

    // Adding ends a walk: the next Older starts from the newest again.
    history.Older("", &line);
    history.Older("", &line);
    history.Add("line 40");
    EXPECT_FALSE(history.Newer(&line));
    ASSERT_TRUE(history.Older("", &line));
    EXPECT_EQ(line, "line 40");
}

TEST(CompleteLine, CompletesTheCommandWordToTheLongestSharedPrefix) {
    const std::vector<std::string> names = {"vid_restart", "vid_driver", "vid_device", "fov",
                                            "+back",       "win_width",  "fov"};
    LineCompletion c = CompleteLine("v", names);
    EXPECT_EQ(c.line, "vid_");
    EXPECT_EQ(c.candidates, (std::vector<std::string>{"vid_device", "vid_driver", "vid_restart"}));
    c = CompleteLine("vid_d", names);
    EXPECT_EQ(c.line, "vid_d");  // nothing more is shared, but both are listed
    EXPECT_EQ(c.candidates, (std::vector<std::string>{"vid_device", "vid_driver"}));

    // A single name (listed once however often it is registered) is completed
    // with the space that ends it; leading spaces stay.
    c = CompleteLine("  fo", names);
    EXPECT_EQ(c.line, "  fov ");
    EXPECT_EQ(c.candidates, (std::vector<std::string>{"fov"}));
    EXPECT_EQ(CompleteLine("+", names).line, "+back ");

    // Nothing matches, or the word is done and arguments follow: unchanged.
    for (const char* line : {"zz", "Fov", "fov 7", "vid_restart now"}) {
        c = CompleteLine(line, names);
        EXPECT_EQ(c.line, line);
        EXPECT_TRUE(c.candidates.empty()) << line;
    }
    // An empty line lists everything.
    EXPECT_EQ(CompleteLine("", names).candidates.size(), 6u);
}

TEST_F(ConsoleEditing, TabCompletesFromTheInterpretersObjectsAndListsSeveral) {
    const std::vector<std::string> names = ConsoleObjectNames();
    ASSERT_NE(std::find(names.begin(), names.end(), "cvarlist"), names.end());
    ASSERT_NE(std::find(names.begin(), names.end(), "vid_restart"), names.end());

    Type("cvarl");
    Press(ConsoleKey::kTab);
    EXPECT_EQ(Line(), "cvarlist ");
    EXPECT_EQ(console.Cursor(), 9u);
    EXPECT_TRUE(output.Lines().empty());  // one candidate: nothing to list

    Press(ConsoleKey::kEnter);
    Type("vid_re");
    Press(ConsoleKey::kLeft, 3);
    Type("_");  // "vid__re": no object starts so
    Press(ConsoleKey::kTab);
    EXPECT_EQ(Line(), "vid__re");
    EXPECT_EQ(console.Cursor(), 4u);  // an unchanged line keeps its caret
    Press(ConsoleKey::kEnd);
    Press(ConsoleKey::kBackspace, 7);
    Type("vid_");
    Press(ConsoleKey::kTab);
    EXPECT_EQ(Line(), "vid_");
    std::vector<std::string> listed;
    for (const std::string& name : names) {
        if (name.rfind("vid_", 0) == 0) listed.push_back("    " + name);
    }
    ASSERT_GE(listed.size(), 2u);
    listed.insert(listed.begin(), "] vid_");
    EXPECT_EQ(output.Lines(), listed);
}

namespace {
std::vector<std::string> TwoWorlds() { return {"oa_dm1", "oa_dm2"}; }
}  // namespace

TEST_F(ConsoleEditing, TabAfterMapCompletesFromTheInstalledWorldNames) {
    const WorldNameSource engine = SetWorldNameSource(TwoWorlds);
    EXPECT_NE(engine, nullptr);  // the world catalogue installed itself
    Type("map oa");
    Press(ConsoleKey::kTab);
    const std::string completed = Line();
    const std::vector<std::string> listed = output.Lines();
    Press(ConsoleKey::kEnd);
    Press(ConsoleKey::kBackspace, 9);
    SetWorldNameSource(nullptr);
    Type("map oa_dm");
    Press(ConsoleKey::kTab);
    const std::string withoutSource = Line();
    SetWorldNameSource(engine);

    EXPECT_EQ(completed, "map oa_dm");
    EXPECT_EQ(listed, (std::vector<std::string>{"] map oa_dm", "    oa_dm1", "    oa_dm2"}));
    EXPECT_EQ(withoutSource, "map oa_dm");  // no names: the line stays
}

TEST(CompleteLine, CompletesTheWorldNameAfterMap) {
    const std::vector<std::string> names = {"map", "maps", "fov"};
    const std::vector<std::string> worlds = {"oa_dm1", "oa_dm2", "arena", "oa_ctf1"};
    LineCompletion c = CompleteLine("map oa_d", names, worlds);
    EXPECT_EQ(c.line, "map oa_dm");
    EXPECT_EQ(c.candidates, (std::vector<std::string>{"oa_dm1", "oa_dm2"}));
    c = CompleteLine("  map  ar", names, worlds);
    EXPECT_EQ(c.line, "  map  arena ");
    EXPECT_EQ(c.candidates, (std::vector<std::string>{"arena"}));
    // Right after the space every world is a candidate.
    c = CompleteLine("map ", names, worlds);
    EXPECT_EQ(c.line, "map ");
    EXPECT_EQ(c.candidates.size(), 4u);
    // The command word itself still completes from the console's names.
    c = CompleteLine("map", names, worlds);
    EXPECT_EQ(c.candidates, (std::vector<std::string>{"map", "maps"}));
    // Other commands' arguments, and words past the world name, stay.
    for (const char* line : {"maps oa", "fov oa", "map oa_dm1 x", "map zz"}) {
        c = CompleteLine(line, names, worlds);
        EXPECT_EQ(c.line, line);
        EXPECT_TRUE(c.candidates.empty()) << line;
    }
}
