#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "camera/camera_cvars.h"
#include "console/command_interpreter.h"
#include "console/config_script.h"
#include "console/runtime_log.h"
#include "platform/platform_cvars.h"
#include "support/test_support.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

class ConfigScripts : public ::testing::Test {
protected:
    void TearDown() override {
        fov.floatValue = 90.0f;
        p_speed.floatValue = 4.25f;
        sensitivity.floatValue = 0.05f;
        cg_rows.intValue = 8;
        cg_drawModel.intValue = -1;
        bsp_noclip.intValue = 0;
        vid_effectmode.intValue = 0;
        win_width.intValue = 800;
    }
    ScratchFolder folder;
    PrintCapture output;
};

const char kHeader[] =
    "// Project Osprel 2.0b config script\n"
    "// File created by engine, do not edit\n";

}  // namespace

TEST_F(ConfigScripts, SavedScriptHasHeaderEmptyLineAndOneEntryPerSettableVariable) {
    ExecuteLine("saveConfig saved.cfg");
    const std::string text = folder.Read("saved.cfg");
    ASSERT_EQ(text.rfind(kHeader, 0), 0u);
    EXPECT_EQ(text.substr(sizeof kHeader - 1, 2), "\nb");  // the empty line, then bsp_...
    EXPECT_NE(text.back(), '\n');

    const std::vector<std::string> lines = SplitLines(text);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], "");
    std::vector<std::string> entries(lines.begin() + 3, lines.end());
    // Key bindings follow the variables.
    entries.erase(std::find_if(entries.begin(), entries.end(),
                               [](const std::string& e) { return e.rfind("bind ", 0) == 0; }),
                  entries.end());
    EXPECT_EQ(entries.size(), 43u - 7u);  // read-only variables are not written
    for (size_t i = 1; i < entries.size(); ++i) EXPECT_LT(entries[i - 1], entries[i]);

    auto has = [&](const std::string& entry) {
        for (const std::string& e : entries) {
            if (e == entry) return true;
        }
        return false;
    };
    EXPECT_TRUE(has("cg_rows \"8\""));
    EXPECT_TRUE(has("p_speed \"4.250000\""));
    EXPECT_TRUE(has("sensitivity \"0.050000\""));
    EXPECT_TRUE(has("cg_drawModel \"-1\""));
    EXPECT_FALSE(has("win_width \"800\""));
    // Every entry names a settable variable: no commands, nothing read-only.
    for (const std::string& e : entries) {
        const ConsoleObject* object = FindConsoleObject(e.substr(0, e.find(' ')).c_str());
        ASSERT_NE(object, nullptr) << e;
        EXPECT_TRUE(object->IsVariable()) << e;
        EXPECT_FALSE(object->readOnly) << e;
    }
}

TEST_F(ConfigScripts, SavedScriptReloadsToTheSameValues) {
    ExecuteLine("fov 72.5");
    ExecuteLine("sensitivity 0.125");
    ExecuteLine("cg_rows 12");
    ExecuteLine("bsp_noclip 1");
    ExecuteLine("vid_effectmode 3");
    ExecuteLine("saveConfig round.cfg");
    const std::string saved = folder.Read("round.cfg");

    fov.floatValue = 1.0f;
    sensitivity.floatValue = 2.0f;
    cg_rows.intValue = 0;
    bsp_noclip.intValue = 0;
    vid_effectmode.intValue = 0;
    win_width.intValue = 1024;  // read-only: not in the script, left alone
    ExecuteLine("loadConfig round.cfg");

    EXPECT_EQ(fov.floatValue, 72.5f);
    EXPECT_EQ(sensitivity.floatValue, 0.125f);
    EXPECT_EQ(cg_rows.intValue, 12);
    EXPECT_EQ(bsp_noclip.intValue, 1);
    EXPECT_EQ(vid_effectmode.intValue, 3);
    EXPECT_EQ(win_width.intValue, 1024);
    EXPECT_TRUE(output.Contains("cg_rows set \"12\""));

    // Saving again gives the very same bytes.
    ExecuteLine("saveConfig again.cfg");
    EXPECT_EQ(folder.Read("again.cfg"), saved);
}

TEST_F(ConfigScripts, DefaultSensitivitySurvivesTheRoundTrip) {
    ExecuteLine("saveConfig defaults.cfg");
    sensitivity.floatValue = 1.0f;
    ExecuteLine("loadConfig defaults.cfg");
    EXPECT_EQ(sensitivity.floatValue, 0.05f);
}

TEST_F(ConfigScripts, LineEndingsAndCommentsAreReadAlike) {
    folder.Write("lf.cfg", "// comment\ncg_rows \"3\"\n\n\nx/y 1\n/fov 10\nfov 20");
    folder.Write("crlf.cfg", "// comment\r\ncg_rows \"3\"\r\n\r\nx/y 1\r\n/fov 10\r\nfov 20\r\n");
    ExecuteLine("loadConfig lf.cfg");
    const std::vector<std::string> fromLf = output.Lines();
    output.Clear();
    ExecuteLine("loadConfig crlf.cfg");
    EXPECT_EQ(output.Lines(), fromLf);
    EXPECT_EQ(fromLf, (std::vector<std::string>{"cg_rows set \"3\"", "fov set \"20.000000\""}));
}

TEST_F(ConfigScripts, UnknownLinesAreReportedAndTheScriptGoesOn) {
    folder.Write("mixed.cfg", "nonsense here\ncg_rows 5\n");
    ExecuteLine("loadConfig mixed.cfg");
    EXPECT_EQ(output.Lines(),
              (std::vector<std::string>{"nonsense here: Unknown command.", "cg_rows set \"5\""}));
}

TEST_F(ConfigScripts, NestedScriptRunsCompletelyAtItsLine) {
    folder.Write("outer.cfg", "cg_rows 1\nloadConfig inner.cfg\ncg_rows 3\n");
    folder.Write("inner.cfg", "fov 11\ncg_rows 2\n");
    ExecuteLine("loadConfig outer.cfg");
    EXPECT_EQ(output.Lines(),
              (std::vector<std::string>{"cg_rows set \"1\"", "fov set \"11.000000\"",
                                        "cg_rows set \"2\"", "cg_rows set \"3\""}));
}

TEST_F(ConfigScripts, ScriptThatLoadsItselfStopsAtTheNestingLimit) {
    folder.Write("self.cfg", "loadConfig self.cfg\ncg_rows 9\n");
    ExecuteLine("loadConfig self.cfg");
    int errors = 0, sets = 0;
    for (const std::string& line : output.Lines()) {
        if (line.rfind("Error: ", 0) == 0) ++errors;
        if (line == "cg_rows set \"9\"") ++sets;
    }
    EXPECT_EQ(errors, 1);
    // Every level that did run finishes its own lines.
    EXPECT_EQ(sets, kMaxConfigNesting);
    // The interpreter is usable afterwards.
    output.Clear();
    ExecuteLine("loadConfig self.cfg");
    EXPECT_EQ(output.Lines().size(), static_cast<size_t>(kMaxConfigNesting) + 1);
}

TEST_F(ConfigScripts, MissingEmptyAndUnreadableScriptsAreReported) {
    folder.Write("empty.cfg", "");
    folder.Write("folder.cfg/inside", "");
    ExecuteLine("loadConfig missing.cfg");
    ExecuteLine("loadConfig empty.cfg");
    ExecuteLine("loadConfig folder.cfg");
    EXPECT_EQ(output.Lines(),
              (std::vector<std::string>{"Error: file missing.cfg has size 0",
                                        "Error: file empty.cfg has size 0",
                                        "Error: file folder.cfg has size 0"}));
}

TEST_F(ConfigScripts, UsageMessagesWithoutArguments) {
    ExecuteLine("loadConfig");
    ExecuteLine("saveConfig");
    EXPECT_EQ(output.Lines(),
              (std::vector<std::string>{"[loadConfig] You must supply a config name to load.",
                                        "[saveConfig] You must supply a config name to save."}));
}

TEST_F(ConfigScripts, UnwritableTargetIsReported) {
    ExecuteLine("saveConfig no/such/folder/x.cfg");
    EXPECT_EQ(output.Last(), "Error writing config script");
    EXPECT_FALSE(folder.Exists("no"));
}

TEST_F(ConfigScripts, ScriptNamesFollowWindowsSpelling) {
    folder.Write("Configs/Mine.CFG", "cg_rows 6\n");
    ExecuteLine("loadConfig configs\\mine.cfg");
    EXPECT_EQ(cg_rows.intValue, 6);
}

TEST_F(ConfigScripts, CvarlistPrintsEveryNameInListOrder) {
    ExecuteLine("cvarlist");
    const std::vector<std::string>& lines = output.Lines();
    const ConsoleObjectList& objects = g_commandInterpreter.Objects();
    int32_t live = 0;
    for (int32_t i = 0; i < objects.Count(); ++i) {
        if (objects.At(i)->kind != kConsoleDestroyed) ++live;
    }
    ASSERT_EQ(lines.size(), static_cast<size_t>(live) + 3);
    EXPECT_EQ(lines.front(), "");
    EXPECT_EQ(lines[1], "Printing " + std::to_string(live) + " console variables...");
    EXPECT_EQ(lines.back(), "");
    for (size_t i = 3; i + 1 < lines.size(); ++i) EXPECT_LT(lines[i - 1], lines[i]);
}

TEST_F(ConfigScripts, CvarlistShowsValuesAndTakesAPrefix) {
    ExecuteLine("fov 75");
    output.Clear();
    ExecuteLine("cvarlist fo");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"", "Printing 1 console variables...",
                                                        "fov                      \"75.000000\"", ""}));
    output.Clear();
    ExecuteLine("cvarlist cg_ro");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"", "Printing 1 console variables...",
                                                        "cg_rows                  \"8\"", ""}));
    output.Clear();
    ExecuteLine("cvarlist vid_dri");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"", "Printing 1 console variables...",
                                                        "vid_driver               \"" +
                                                            std::string(vid_driver.stringValue) + "\"",
                                                        ""}));
    // Commands show their names only; a prefix nothing has lists nothing.
    output.Clear();
    ExecuteLine("cvarlist cvarl");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"", "Printing 1 console variables...", "cvarlist", ""}));
    output.Clear();
    ExecuteLine("cvarlist zzz_none");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"", "Printing 0 console variables...", ""}));
    // A trailing star is the same prefix; the star alone lists everything
    // with values, and the plain listing keeps names alone.
    output.Clear();
    ExecuteLine("cvarlist fo*");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"", "Printing 1 console variables...",
                                                        "fov                      \"75.000000\"", ""}));
    output.Clear();
    ExecuteLine("cvarlist *");
    const std::vector<std::string> all = output.Lines();
    EXPECT_NE(std::find(all.begin(), all.end(), "fov                      \"75.000000\""), all.end());
    output.Clear();
    ExecuteLine("cvarlist");
    const std::vector<std::string> plain = output.Lines();
    EXPECT_EQ(plain.size(), all.size());
    EXPECT_NE(std::find(plain.begin(), plain.end(), "fov"), plain.end());
    EXPECT_EQ(std::find(plain.begin(), plain.end(), "fov                      \"75.000000\""), plain.end());
}

TEST_F(ConfigScripts, CmdlistListsOnlyCommandsInListOrder) {
    ExecuteLine("cmdlist");
    const std::vector<std::string> lines = output.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front(), "");
    EXPECT_EQ(lines.back(), "");
    const std::vector<std::string> names(lines.begin() + 2, lines.end() - 1);
    EXPECT_EQ(lines[1], "Printing " + std::to_string(names.size()) + " console commands...");
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    for (const std::string& name : names) {
        const ConsoleObject* object = FindConsoleObject(name.c_str());
        ASSERT_NE(object, nullptr) << name;
        EXPECT_EQ(object->kind, kConsoleCommand) << name;
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "cmdlist"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "fov"), names.end());

    output.Clear();
    ExecuteLine("cmdlist v_inc");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"", "Printing 3 console commands...", "v_incDrawLevel",
                                                        "v_incEffect", "v_incScissorLevel", ""}));
}
