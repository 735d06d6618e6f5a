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
