#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/command_line.h"

namespace {

struct Parsed {
    CommandLineAction action;
    CommandLine options;
    std::string error;
};

Parsed Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "osprel");
    Parsed parsed;
    parsed.action = ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), &parsed.options,
                                     &parsed.error);
    return parsed;
}

}  // namespace

TEST(CommandLineWorld, OneWorldBesideTheOptionsInAnyPlace) {
    Parsed before = Parse({"oa_dm1", "--headless", "--frames", "5"});
    EXPECT_EQ(before.action, CommandLineAction::kRun);
    EXPECT_EQ(before.options.world, "oa_dm1");
    EXPECT_EQ(before.options.frames, 5);

    Parsed after = Parse({"--data", "/srv/q3", "--data", "more", "/home/me/x.bsp"});
    EXPECT_EQ(after.action, CommandLineAction::kRun);
    EXPECT_EQ(after.options.world, "/home/me/x.bsp");
    EXPECT_EQ(after.options.dataFolders, (std::vector<std::string>{"/srv/q3", "more"}));

    EXPECT_TRUE(Parse({"--headless"}).options.world.empty());
    EXPECT_EQ(Parse({"-"}).options.world, "-");  // a file named "-" is still a name
}

TEST(CommandLineWorld, MistakesAreUsageErrors) {
    Parsed two = Parse({"oa_dm1", "oa_dm2"});
    EXPECT_EQ(two.action, CommandLineAction::kUsageError);
    EXPECT_EQ(two.error, "one world at a time: 'oa_dm1' and 'oa_dm2'");
    Parsed empty = Parse({""});
    EXPECT_EQ(empty.action, CommandLineAction::kUsageError);
    Parsed data = Parse({"--data"});
    EXPECT_EQ(data.action, CommandLineAction::kUsageError);
    EXPECT_EQ(data.error, "option '--data' needs a folder");
    Parsed unknown = Parse({"--frobnicate"});
    EXPECT_EQ(unknown.action, CommandLineAction::kUsageError);
    EXPECT_EQ(unknown.error, "unknown option '--frobnicate'");
    const std::string help = CommandLineHelp();
    EXPECT_NE(help.find("Usage: osprel [OPTION]... [WORLD]"), std::string::npos);
    EXPECT_NE(help.find("--data DIR"), std::string::npos);
}

TEST(CommandLineTimedemo, TakesOneDemoAndNoWorld) {
    Parsed given = Parse({"--headless", "--timedemo", "demos/demo003.dem", "--stats"});
    EXPECT_EQ(given.action, CommandLineAction::kRun);
    EXPECT_EQ(given.options.timedemo, "demos/demo003.dem");
    EXPECT_TRUE(given.options.stats);
    EXPECT_TRUE(Parse({"--headless"}).options.timedemo.empty());

    Parsed missing = Parse({"--timedemo"});
    EXPECT_EQ(missing.action, CommandLineAction::kUsageError);
    EXPECT_EQ(missing.error, "option '--timedemo' needs a demo file");
    EXPECT_EQ(Parse({"--timedemo", ""}).action, CommandLineAction::kUsageError);
    // The demo brings its world; a second one would be ignored silently.
    Parsed withWorld = Parse({"oa_dm1", "--timedemo", "demo001"});
    EXPECT_EQ(withWorld.action, CommandLineAction::kUsageError);
    EXPECT_EQ(withWorld.error, "--timedemo plays in its demo's own world: name no world with it");
    EXPECT_NE(std::string(CommandLineHelp()).find("--timedemo FILE"), std::string::npos);
}

TEST(CommandLineAliases, SetMapAndExecTakeTheWordsUpToTheNextOption) {
    Parsed given = Parse({"+set", "fov", "70", "+exec", "mine.cfg", "--exec", "cvarlist", "+map", "oa_dm1",
                          "+set", "p_speed", "3", "--frames", "2"});
    ASSERT_EQ(given.action, CommandLineAction::kRun) << given.error;
    EXPECT_EQ(given.options.consoleVariables,
              (std::vector<std::pair<std::string, std::string>>{{"fov", "70"}, {"p_speed", "3"}}));
    EXPECT_EQ(given.options.world, "oa_dm1");
    // +exec runs its file in its place among the --exec lines.
    EXPECT_EQ(given.options.execLines, (std::vector<std::string>{"loadConfig mine.cfg", "cvarlist"}));
    EXPECT_EQ(given.options.frames, 2);
    // A lone "+" or "-" is still a world's name.
    EXPECT_EQ(Parse({"+"}).options.world, "+");
}

TEST(CommandLineAliases, MistakesAreUsageErrors) {
    const struct {
        std::vector<const char*> arguments;
        const char* error;
    } cases[] = {
        {{"+set", "fov"}, "+set takes NAME VALUE (a console variable and one word)"},
        {{"+set", "fov", "70", "80"}, "+set takes NAME VALUE (a console variable and one word)"},
        {{"+set", "nosuchvar", "1"}, "+set: no console variable is called 'nosuchvar'"},
        {{"+set", "quit", "1"}, "+set: no console variable is called 'quit'"},  // a command
        {{"+map"}, "+map takes one world"},
        {{"+map", "a", "b"}, "+map takes one world"},
        {{"oa_dm1", "+map", "oa_dm2"}, "one world at a time: 'oa_dm1' and 'oa_dm2'"},
        {{"+exec", "--frames", "3"}, "+exec takes one config file"},
        {{"+connect", "localhost"}, "unknown command '+connect' (+set, +map and +exec are known)"},
    };
    for (const auto& c : cases) {
        Parsed parsed = Parse(c.arguments);
        EXPECT_EQ(parsed.action, CommandLineAction::kUsageError) << c.error;
        EXPECT_EQ(parsed.error, c.error);
    }
    const std::string help = CommandLineHelp();
    for (const char* option : {"+set NAME VALUE", "+map WORLD", "+exec FILE", "--no-message-boxes"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}
