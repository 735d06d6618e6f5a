// The engine program itself, run headless as a user would run it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/paths.h"
#include "support/test_support.h"

namespace {

// A private instance name for each engine a test starts, so that tests can
// run side by side.
std::string InstanceEnvironment() {
    static int counter = 0;
    return "OSPREL_INSTANCE_NAME=osprel-test-" + std::to_string(::getpid()) + "-" +
           std::to_string(++counter) + " ";
}

std::string Engine(const std::string& binary, const ScratchFolder& folder,
                   const std::vector<std::string>& lines, const std::string& extra = "") {
    // Generous: a busy machine runs the software rasteriser many times slower.
    std::string command = InstanceEnvironment() + "timeout 300 " + ShellQuote(binary) +
                          " --headless --basedir " + ShellQuote(folder.Path());
    for (const std::string& line : lines) command += " --exec " + ShellQuote(line);
    return command + " " + extra;
}

// The content a start needs: the shader file and the fallback texture.
void InstallContent(const ScratchFolder& folder) {
    folder.CopyContent({"shaders.hlsl", "noshader.jpg", "autoexec.cfg", "test.tga", "loading.jpg",
                        "textures/negz.jpg", "textures/posz.jpg", "textures/posx.jpg",
                        "textures/negx.jpg", "textures/posy.jpg"});
}

// The engine in a window on a virtual X display, in folder; arguments
// follow the content folder (redirections included).
ProgramResult RunWindowed(const ScratchFolder& folder, const std::string& arguments) {
    const std::string log = folder.Path() + "/windowed.log";
    ProgramResult run = RunProgram(InstanceEnvironment() +
                                   OnVirtualDisplay(ShellQuote(OSPREL_BINARY) + " --basedir " +
                                                        ShellQuote(folder.Path()) + " " + arguments,
                                                    log));
    run.output = folder.Read("windowed.log");
    return run;
}

bool XvfbAndXdotoolInstalled() {
    return std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") == 0;
}

// The engine in a window on a virtual X display, with every message box it
// shows answered with Return, as a user would. Standard output and error go
// to run.out and run.err in folder, the exit code to code, and the captions
// of the boxes answered, one a line, to boxes.txt.
void RunWindowedAnsweringBoxes(const ScratchFolder& folder, const std::string& arguments) {
    folder.Write("answer-boxes.sh",
                 "#!/bin/sh\n"
                 "\"$1\" --basedir \"$2\" " + arguments + " > \"$2/run.out\" 2> \"$2/run.err\" &\n"
                 "engine=$!\n"
                 ": > \"$2/boxes.txt\"\n"
                 "seen=''\n"
                 // Pressed until the box has gone: a busy machine may show it
                 // before it takes keys.
                 // (A search by name misses SDL's boxes: every window is
                 // listed, and each one's name read.)
                 "for i in $(seq 480); do kill -0 $engine 2>/dev/null || break; "
                 "for w in $(xdotool search --class '' 2>/dev/null); do "
                 "name=$(xdotool getwindowname \"$w\" 2>/dev/null); "
                 "case \"$name\" in 'Osprel Error'|'Osprel Warning') ;; *) continue;; esac; "
                 "case \" $seen \" in *\" $w \"*) ;; *) seen=\"$seen $w\"; echo \"$name\" >> \"$2/boxes.txt\";; esac; "
                 "xdotool windowfocus \"$w\" key Return 2>/dev/null; done; sleep 0.5; done\n"
                 "kill $engine 2>/dev/null\n"
                 "wait $engine\n"
                 "echo $? > \"$2/code\"\n");
    RunProgram(InstanceEnvironment() + OnVirtualDisplay("sh " + ShellQuote(folder.Path() + "/answer-boxes.sh") + " " +
                                                            ShellQuote(OSPREL_BINARY) + " " + ShellQuote(folder.Path()),
                                                        folder.Path() + "/xvfb.log", folder.Path() + "/run.err"));
}

// Whether a box captioned caption with a text beginning with text reached
// the user: shown and answered, or, where the X server has no font to draw
// boxes with, written to standard error in its place.
bool BoxReachedTheUser(const ScratchFolder& folder, const std::string& caption, const std::string& text) {
    const std::vector<std::string> answered = SplitLines(folder.Read("boxes.txt"));
    return std::find(answered.begin(), answered.end(), caption) != answered.end() ||
           folder.Read("run.err").find(caption + ": " + text) != std::string::npos;
}

ProgramResult RunEngine(const ScratchFolder& folder, const std::vector<std::string>& lines,
                        const std::string& extra = "--frames 1 </dev/null") {
    InstallContent(folder);
    return RunProgram(Engine(OSPREL_BINARY, folder, lines, extra));
}

// The lines between the first line equal to from (excluded) and the first
// later line equal to to (excluded); empty to means the end.
std::vector<std::string> Between(const std::vector<std::string>& lines, const std::string& from,
                                 const std::string& to) {
    auto begin = std::find(lines.begin(), lines.end(), from);
    if (begin == lines.end()) return {};
    ++begin;
    auto end = to.empty() ? lines.end() : std::find(begin, lines.end(), to);
    return std::vector<std::string>(begin, end);
}

}  // namespace

TEST(Program, ConsoleLinesFromTheCommandLinePrintTheInterpretersMessages) {
    ScratchFolder folder;
    ProgramResult run = RunEngine(folder, {"fov", "fov 75 80", "fov", "FOV 75", "win_width 640",
                                           "p_ground abc", "vid_restart"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<std::string> lines = SplitLines(run.output);
    const std::vector<std::string> listing = {
        "Globally Allocated Subsystems (sorted): 6 systems",
        "--Subsystem 0: COperatingSystem (priority: 1)",
        "--Subsystem 1: CInputSystem (priority: 3)",
        "--Subsystem 2: CVideoSystem (priority: 8)",
        "--Subsystem 3: CCommandInterpreter (priority: 10)",
        "--Subsystem 4: CGameSystem (priority: 15)",
        "--Subsystem 5: CRenderer (priority: 35)",
    };
    ASSERT_GE(lines.size(), listing.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 7), listing);
    // No tower world and no demos in this folder: the start-up level and its
    // demo fail to load, after autoexec.cfg's bindings.
    const std::vector<std::string> startup = {
        "Loading: maps/tower.lmf",
        "Loading: maps/tower.lmf",
        "Loading resource (3), maps/tower.lmf",
        "Attempting to load world: maps/tower.lmf",
        "Error: Unable to find map maps/tower.lmf",
        "Could not load maps/tower.lmf with the .lmf format",
        "Unable to load NULL resource",
        "Error loading world.",
        "Loading a demo from disk...",
        "Reading demo demos\\demo003.dem",
        "Couldn't open file demos\\demo003.dem",
        "Error trying to read file demos\\demo003.dem",
        "Error reading demo.",
    };
    EXPECT_EQ(Between(lines, "Key f12 set to screenshot", "fov is \"90.000000\""), startup) << run.output;
    const std::vector<std::string> expected = {
        "fov is \"90.000000\"",
        "fov set \"75.000000\"",
        "fov is \"75.000000\"",
        "FOV 75: Unknown command.",
        "win_width is readonly.",
        "p_ground set \"0\"",
        "Refreshing video settings...",
        "Shutting down CVideoSystem",
    };
    EXPECT_EQ(Between(lines, "Error reading demo.", ""), expected) << run.output;
}

TEST(Program, HeadlessStartBringsUpTheVideoDevice) {
    ScratchFolder folder;
    ProgramResult run = RunEngine(folder, {"vid_driver", "vid_device", "vid_description", "res_totals"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Width: 800 Height: 600\n"), std::string::npos);
    EXPECT_EQ(run.output.find("VID Error"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("vid_driver is \"Default Driver\""), std::string::npos);
    EXPECT_NE(run.output.find("vid_device is \""), std::string::npos);
    EXPECT_NE(run.output.find("Listing allocated resources...\n"), std::string::npos);
}

TEST(Program, ScreenshotIsWrittenWhereTheEngineWasStarted) {
    ScratchFolder folder;
    InstallContent(folder);
    ScratchFolder elsewhere;
    ProgramResult run = RunProgram("cd " + ShellQuote(elsewhere.Path()) + " && " +
                                   Engine(OSPREL_BINARY, folder, {}, "--frames 3 --screenshot shot.png </dev/null"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string png = elsewhere.Read("shot.png");
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST(Program, ScreenshotCommandAndF12WriteNumberedPicturesInTheContentFolder) {
    ScratchFolder folder;
    folder.Write("keys.txt", "2 key f12 down\n3 key f12 up\n");
    ProgramResult run = RunEngine(folder, {"screenshot"},
                                  "--input-script " + folder.Path() + "/keys.txt --frames 4 </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // The command's picture in the first frame, F12's in the second: one
    // each, though the key is held for a whole frame.
    const std::vector<std::string> lines = SplitLines(run.output);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Wrote screenshots/shot0000.png"), 1) << run.output;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Wrote screenshots/shot0001.png"), 1) << run.output;
    EXPECT_FALSE(folder.Exists("screenshots/shot0002.png"));
    EXPECT_EQ(folder.Read("screenshots/shot0001.png").substr(1, 3), "PNG");

    // The next run goes on from the first free number.
    run = RunEngine(folder, {"screenshot", "screenshot named"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Wrote screenshots/shot0002.png\nWrote named.png\n"), std::string::npos) << run.output;
    EXPECT_EQ(folder.Read("named.png").substr(1, 3), "PNG");
}

TEST(Program, StatsLineTellsHowTheRunWent) {
    ScratchFolder folder;
    ProgramResult run = RunEngine(folder, {"v_setpos 1 2 3", "v_setview 10 20 0"},
                                  "--frames 4 --stats </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string prefix = "stats: frames=4 fps=";
    const size_t at = run.output.find(prefix);
    ASSERT_NE(at, std::string::npos) << run.output;
    const std::string line = run.output.substr(at, run.output.find('\n', at) - at);
    EXPECT_NE(line.find(" pos=1.000,2.000,3.000 angles=-20.000,10.000,0.000 items=0"), std::string::npos)
        << line;

    // Then the work per frame: with no world, the sky and the overlay are
    // still drawn and the back buffer cleared every frame.
    const size_t work = run.output.find("stats: per frame: draws=", at);
    ASSERT_NE(work, std::string::npos) << run.output;
    double draws = 0, binds = 0, uploads = 0, bytes = 0, states = 0, clears = 0, targets = 0, ms = 0;
    double fragments = -1;
    ASSERT_EQ(std::sscanf(run.output.c_str() + work,
                          "stats: per frame: draws=%lf texture_binds=%lf constant_uploads=%lf constant_bytes=%lf\n"
                          "stats: per frame: state_sets=%lf clears=%lf target_changes=%lf ms=%lf\n"
                          "stats: per frame: world_fragments_per_pixel=%lf",
                          &draws, &binds, &uploads, &bytes, &states, &clears, &targets, &ms, &fragments),
              9)
        << run.output.substr(work);
    EXPECT_GE(draws, 5.0);  // the five sky faces at least
    EXPECT_GE(clears, 1.0);
    EXPECT_GT(ms, 0.0);
    EXPECT_EQ(fragments, 0.0);  // no world

    // With a world in view, its draw covers the screen about once or more
    // (the start-up arena's floor and walls fill the view).
    folder.CopyContent({"maps/arena.lmf"});
    run = RunEngine(folder, {}, "--set level=0 --set demo=3 --frames 4 --stats </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const size_t covered = run.output.find("stats: per frame: world_fragments_per_pixel=");
    ASSERT_NE(covered, std::string::npos) << run.output;
    ASSERT_EQ(std::sscanf(run.output.c_str() + covered, "stats: per frame: world_fragments_per_pixel=%lf", &fragments),
              1);
    EXPECT_GT(fragments, 0.5);
    EXPECT_LT(fragments, 4.0);
}

TEST(Program, AContentFolderWithoutTheShadersSaysSoOnceAndFails) {
    ScratchFolder folder;
    folder.CopyContent({"noshader.jpg"});
    ProgramResult run = RunProgram(Engine(OSPREL_BINARY, folder, {}, "--frames 5 </dev/null 2>&1"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("osprel: the content folder " + folder.Path() + " has no shaders.hlsl\n"),
              std::string::npos)
        << run.output;
    // Nothing started: no subsystem listing, no frame.
    EXPECT_EQ(run.output.find("Globally Allocated Subsystems"), std::string::npos);
}

TEST(Program, ShadersThatDoNotBuildStopAtTheFirstFrameWithoutACrash) {
    ScratchFolder folder;
    folder.CopyContent({"noshader.jpg"});
    folder.Write("shaders.hlsl", "this is not HLSL");
    ProgramResult run = RunProgram(Engine(OSPREL_BINARY, folder, {}, "--frames 5 </dev/null 2>/dev/null"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("Error initializing shaders.\n"), std::string::npos);
    EXPECT_NE(run.output.find("[Error] VID Error: You cannot update the video system without "
                              "initializing it first."),
              std::string::npos);
}

TEST(Program, AStartWithoutTheFallbackTextureEndsWithoutAnAbort) {
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl"});
    for (const char* flags : {"--frames 3", "--frames 3 --exec quit"}) {
        ProgramResult run = RunProgram(Engine(OSPREL_BINARY, folder, {}, std::string(flags) + " </dev/null 2>/dev/null"));
        EXPECT_EQ(run.exitCode, 0) << flags << run.output;
        EXPECT_NE(run.output.find("[Warning] Error loading noshader.jpg"), std::string::npos) << flags;
    }
}

TEST(Program, CvarlistListsEveryObjectInByteOrder) {
    ScratchFolder folder;
    ProgramResult run = RunEngine(folder, {"cvarlist"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::string> lines = SplitLines(run.output);
    std::vector<std::string> names = Between(lines, "Printing 83 console variables...", "");
    ASSERT_GE(names.size(), 2u) << run.output;
    EXPECT_EQ(names[names.size() - 2], "");  // the listing's closing empty line
    names.resize(names.size() - 2);        // and the shutdown line after it
    ASSERT_EQ(names.size(), 83u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(names.front(), "+back");  // "+" sorts before every letter
}

TEST(Program, GlobalsComeUpTheSameWhicheverOrderTheyAreLinkedIn) {
    ScratchFolder folder;
    const std::vector<std::string> lines = {"cvarlist", "sensitivity", "com_log"};
    InstallContent(folder);
    ProgramResult forward = RunProgram(Engine(OSPREL_BINARY, folder, lines, "--frames 2 </dev/null"));
    ProgramResult reversed =
        RunProgram(Engine(OSPREL_REVERSED_LINK_BINARY, folder, lines, "--frames 2 </dev/null"));
    ASSERT_EQ(forward.exitCode, 0) << forward.output;
    ASSERT_EQ(reversed.exitCode, 0) << reversed.output;
    EXPECT_EQ(forward.output, reversed.output);
}

TEST(Program, EachRunStartsAFreshRuntimeLog) {
    ScratchFolder folder;
    folder.Write("runtime.log", "an older run\r\n");
    ProgramResult run = RunEngine(folder, {"fov", "com_log 1", "fov"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(folder.Read("runtime.log"),
              "com_log set \"1\"\r\nfov is \"90.000000\"\r\nShutting down CVideoSystem\r\n");

    run = RunEngine(folder, {"fov"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_FALSE(folder.Exists("runtime.log"));
}

TEST(Program, SavedConfigLoadsInALaterRun) {
    ScratchFolder folder;
    ASSERT_EQ(RunEngine(folder, {"cg_rows 3", "p_speed 9.5", "saveConfig mine.cfg"}).exitCode, 0);
    ProgramResult run = RunEngine(folder, {"loadConfig mine.cfg", "cg_rows", "p_speed"});
    ASSERT_EQ(run.exitCode, 0);
    std::vector<std::string> lines = SplitLines(run.output);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "cg_rows is \"3\"");
    EXPECT_EQ(lines[lines.size() - 2], "p_speed is \"9.500000\"");
}

TEST(Program, QuitTypedOnStandardInputEndsTheRun) {
    ScratchFolder folder;
    InstallContent(folder);
    ProgramResult run =
        RunProgram("printf 'fov 60\\n\\nquit\\n' | " +
                   Engine(OSPREL_BINARY, folder, {}, "--set debug=1"));
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::string> lines = SplitLines(run.output);
    ASSERT_GE(lines.size(), 4u);
    // Each typed line is echoed above what it printed; the empty one did nothing.
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"] fov 60", "fov set \"60.000000\"", "] quit",
                                        "Shutting down CVideoSystem"}))
        << run.output;
}

TEST(Program, CommandLineMistakesAreReported) {
    ScratchFolder folder;
    const std::string binary = ShellQuote(OSPREL_BINARY);
    EXPECT_EQ(RunProgram(binary + " --help").exitCode, 0);
    ProgramResult version = RunProgram(binary + " --version");
    EXPECT_EQ(version.output, "osprel 2.0b\n");
    EXPECT_EQ(RunProgram(binary + " --no-such-option 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunProgram(binary + " --frames 0 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunProgram(binary + " --exec 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunProgram(binary + " --set resolution=9 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunProgram(binary + " --set stereo=1 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunProgram(binary + " --fixed-frame-ms -5 2>/dev/null").exitCode, 2);
    ProgramResult missing =
        RunProgram(binary + " --headless --frames 1 --basedir " + folder.Path() + "/nope 2>&1");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("cannot use content folder"), std::string::npos);
}

TEST(Program, AcceptedDefaultsSetTheConsoleVariables) {
    ScratchFolder folder;
    ProgramResult run = RunEngine(folder, {"win_width", "win_height", "vid_fullscreen",
                                           "vid_effectmode", "bsp_noclip", "win_debug"},
                                  "--accept-defaults --frames 1 </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::string> lines = SplitLines(run.output);
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 7, lines.end() - 1),
              (std::vector<std::string>{"win_width is \"800\"", "win_height is \"600\"",
                                        "vid_fullscreen is \"1\"", "vid_effectmode is \"1\"",
                                        "bsp_noclip is \"1\"", "win_debug is \"0\""}));
}

TEST(Program, FirstDemoStartsArenaWorld) {
    ScratchFolder folder;
    ProgramResult run = RunEngine(folder, {}, "--set demo=0 --set level=2 --frames 1 </dev/null");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("Attempting to load world: maps/arena.lmf"), std::string::npos);
    EXPECT_NE(run.output.find("Reading demo demos\\demo001.dem"), std::string::npos);
}

TEST(Program, SecondCopyStopsAndAKilledCopyLeavesNoLock) {
    ScratchFolder folder;
    InstallContent(folder);
    const std::string name = "OSPREL_INSTANCE_NAME=osprel-guard-" + std::to_string(::getpid()) + " ";
    const std::string engine = ShellQuote(OSPREL_BINARY) + " --headless --basedir " +
                               ShellQuote(folder.Path());
    // The first copy runs until it is killed; the second is started meanwhile.
    const std::string script =
        name + engine + " --frames 1000000000 >/dev/null 2>&1 & first=$!; sleep 0.5; " +
        name + "timeout 20 " + engine + " --frames 1 --exec 'com_log 1' >second.out 2>second.err; "
        "echo $? >second.code; kill -9 $first; wait $first 2>/dev/null; " +
        name + "timeout 20 " + engine + " --frames 1 >third.out 2>&1; echo $? >third.code";
    RunProgram("cd " + ShellQuote(folder.Path()) + " && (" + script + ")");
    EXPECT_EQ(folder.Read("second.code"), "1\n");
    EXPECT_NE(folder.Read("second.err").find("Project Osprel 2.0 is already running on this system"),
              std::string::npos);
    EXPECT_EQ(folder.Read("second.out").find("Attempting to load world"), std::string::npos);
    EXPECT_EQ(folder.Read("third.code"), "0\n");
}

TEST(Program, WindowedRunUnderXvfb) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    ScratchFolder folder;
    InstallContent(folder);
    ProgramResult run = RunWindowed(folder, "--accept-defaults --frames 60 2>&1");
    EXPECT_EQ(run.exitCode, 0) << run.output;
}

TEST(Program, AWindowResizedByTheWindowManagerGetsABackBufferOfItsSize) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    ScratchFolder folder;
    InstallContent(folder);
    const std::string log = ShellQuote(folder.Path() + "/runtime.log");
    // The engine runs until the resize has reached it (or a minute has
    // passed, whatever the machine's load); the log shows the sizes.
    folder.Write("resize.sh",
                 InstanceEnvironment() + ShellQuote(OSPREL_BINARY) + " --basedir " + ShellQuote(folder.Path()) +
                     " --set demo=3 --set debug=0 --set fullscreen=0 --set log=1 --no-message-boxes --frames 100000000 &\n"
                     "pid=$!\n"
                     "for i in $(seq 600); do wid=$(xdotool search --name 'Osprel 2.0b' 2>/dev/null | head -1); "
                     "[ -n \"$wid\" ] && break; sleep 0.1; done\n"
                     "sleep 1; xdotool windowsize \"$wid\" 1000 700\n"
                     "for i in $(seq 600); do grep -q 'Width: 1000 Height: 700' " + log + " && break; sleep 0.1; done\n"
                     "kill $pid; wait $pid\n"
                     "grep '^Width:' " + log + "\n");
    ProgramResult run = RunProgram(OnVirtualDisplay("sh " + ShellQuote(folder.Path() + "/resize.sh"),
                                                    folder.Path() + "/xvfb.log"));
    run.output = folder.Read("xvfb.log");
    const size_t first = run.output.find("Width: 800 Height: 600");
    ASSERT_NE(first, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Width: 1000 Height: 700", first), std::string::npos) << run.output;
    // Debug logging's warning did not wait for a click: it went to standard error.
    EXPECT_NE(run.output.find("Osprel Warning: Please be aware that selecting 'Debug Logging'"), std::string::npos)
        << run.output;
}

TEST(Program, AWindowedStartWithoutTheFallbackTextureEndsWithoutAnAbort) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl"});
    // The video error's box, asked for on standard error instead.
    const std::string error = "VID Error: You cannot update the video system without initializing it first.";
    ProgramResult run = RunWindowed(folder, "--accept-defaults --no-message-boxes --frames 5 2>&1");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Osprel Error: " + error), std::string::npos) << run.output;

    // Shown and answered, it ends the run the same way.
    if (!XvfbAndXdotoolInstalled()) GTEST_SKIP() << "xdotool is not installed";
    RunWindowedAnsweringBoxes(folder, "--accept-defaults --frames 5");
    EXPECT_EQ(folder.Read("code"), "0\n") << folder.Read("run.err");
    EXPECT_TRUE(BoxReachedTheUser(folder, "Osprel Error", error)) << folder.Read("run.err");
}

TEST(Program, ScreenshotCommandInAWindowUnderXvfb) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    ScratchFolder folder;
    InstallContent(folder);
    ProgramResult run =
        RunWindowed(folder, "--set resolution=0 --set fullscreen=0 --exec 'screenshot window' --frames 5 2>&1");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string png = folder.Read("window.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // The header's width and height (big-endian): the back buffer's size.
    auto at = [&](size_t offset) {
        return (static_cast<uint32_t>(static_cast<uint8_t>(png[offset])) << 24) |
               (static_cast<uint32_t>(static_cast<uint8_t>(png[offset + 1])) << 16) |
               (static_cast<uint32_t>(static_cast<uint8_t>(png[offset + 2])) << 8) |
               static_cast<uint32_t>(static_cast<uint8_t>(png[offset + 3]));
    };
    EXPECT_EQ(at(16), 640u);
    EXPECT_EQ(at(20), 480u);
}

TEST(Program, TimedemoThatCannotRunExitsWithAReason) {
    ScratchFolder folder;
    InstallContent(folder);
    // Missing: said before any window opens.
    ProgramResult missing = RunProgram(Engine(OSPREL_BINARY, folder, {}, "--timedemo nosuch.dem 2>&1 </dev/null"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("osprel: no demo file 'nosuch.dem'"), std::string::npos) << missing.output;
    EXPECT_EQ(missing.output.find("Globally Allocated Subsystems"), std::string::npos);

    // Damaged: the engine's own lines say why. Neither the start level nor
    // the start-up demo is loaded on the way.
    // (Started elsewhere, the name is one of the content folder.)
    folder.Write("bad.dem", "ten bytes.");
    ScratchFolder elsewhere;
    ProgramResult damaged = RunProgram("cd " + ShellQuote(elsewhere.Path()) + " && " +
                                       Engine(OSPREL_BINARY, folder, {},
                                              "--timedemo bad.dem 2>" + folder.Path() + "/err.txt </dev/null"));
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_NE(damaged.output.find("Error parsing demo map name from demo file.\nError reading demo.\n"
                                  "timedemo: cannot read demo bad.dem\n"),
              std::string::npos)
        << damaged.output;
    EXPECT_NE(folder.Read("err.txt").find("osprel: the timedemo of 'bad.dem' did not complete"), std::string::npos);
    EXPECT_EQ(damaged.output.find("maps/tower.lmf"), std::string::npos) << damaged.output;
    EXPECT_EQ(damaged.output.find("demos\\demo003.dem"), std::string::npos);
    EXPECT_NE(damaged.output.find("Shutting down CVideoSystem"), std::string::npos);  // quit as usual

    // A header without packets, in the folder the engine is started from:
    // the file is taken from there.
    ScratchFolder start;
    start.Write("empty.dem", std::string(376, '\0'));
    ProgramResult empty = RunProgram(Engine(OSPREL_BINARY, folder, {}, "--timedemo empty.dem 2>/dev/null </dev/null"));
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.output.find("timedemo: demo " + CurrentDirectory() + "/empty.dem holds no packets"),
              std::string::npos)
        << empty.output;
}

namespace {

// A demo file of a world-less flight: packets (key 17 released) at the given
// milliseconds after its start.
std::string SmallDemo(const std::vector<float>& times) {
    std::string bytes(376, '\0');
    auto bigEndian = [](uint32_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    };
    bytes.replace(372, 4, bigEndian(static_cast<uint32_t>(times.size())));
    for (float time : times) {
        std::string packet(44, '\0');
        packet[4] = 17;
        uint32_t bits = 0;
        std::memcpy(&bits, &time, 4);
        packet.replace(40, 4, bigEndian(bits));
        bytes += packet;
    }
    return bytes;
}

}  // namespace

TEST(Program, TimedemoPrintsItsLineOnStandardOutputHeadlessAndInAWindow) {
    ScratchFolder folder;
    InstallContent(folder);
    folder.Write("demos/short.dem", SmallDemo({0.0f, 80.0f, 160.0f}));
    // 160 ms: ten steps after the start, eleven frames.
    const std::string line = "timedemo: 11 frames, ";
    ProgramResult headless = RunProgram(Engine(OSPREL_BINARY, folder, {}, "--timedemo short </dev/null"));
    ASSERT_EQ(headless.exitCode, 0) << headless.output;
    EXPECT_NE(headless.output.find("\n" + line), std::string::npos) << headless.output;

    if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    ProgramResult windowed = RunWindowed(folder, "--set fullscreen=0 --timedemo short 2>/dev/null");
    ASSERT_EQ(windowed.exitCode, 0) << windowed.output;
    EXPECT_EQ(windowed.output.rfind(line, 0), 0u) << windowed.output;  // the one line printed there
}

TEST(Program, InputScriptDrivesTheKeysAndTheMouse) {
    ScratchFolder folder;
    folder.Write("input.txt",
                 "# hold w for a second, turn a little, hold p for two and a half seconds\n"
                 "1 key w down\n"
                 "101 key w up\n"
                 "120 mouse -100 0\n"
                 "130 key p down\n"
                 "380 key p up\n"
                 "390 console vid_effectmode\n");
    ProgramResult run = RunEngine(folder, {},
                                  "--input-script " + folder.Path() + "/input.txt --frames 400 "
                                  "--fixed-frame-ms 10 --stats </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // 100 frames of 10 ms at 4.25 x 0.05 units per millisecond, straight ahead (-Z).
    EXPECT_NE(run.output.find(" pos=274.000,478.000,222.500 "), std::string::npos) << run.output;
    // One frame of mouse movement: 10 ms x 100 x 0.05 x 0.01 degrees.
    EXPECT_NE(run.output.find(" angles=-0.500,0.000,0.000 "), std::string::npos);
    // From the dialog's fake HDR, three steps in two and a half seconds.
    // The script's console line is echoed as typed, above its answer.
    EXPECT_NE(run.output.find("] vid_effectmode\nvid_effectmode is \"4\"\n"), std::string::npos);
}

TEST(Program, KeysHeldWhenTheWindowLosesTheFocusAreLetGo) {
    // w goes down, the window loses the focus at frame 51 and w is let go
    // while it is away: the walk stops at the focus change, not never.
    ScratchFolder folder;
    folder.Write("input.txt",
                 "1 key w down\n"
                 "51 focus out\n"
                 "61 key w up\n"
                 "71 focus in\n");
    ProgramResult run = RunEngine(folder, {},
                                  "--input-script " + folder.Path() + "/input.txt --frames 100 "
                                  "--fixed-frame-ms 10 --stats </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // 50 frames of 10 ms at 4.25 x 0.05 units per millisecond, straight ahead (-Z).
    EXPECT_NE(run.output.find(" pos=274.000,478.000,328.750 "), std::string::npos) << run.output;

    folder.Write("bad.txt", "1 focus sideways\n");
    ProgramResult bad = RunProgram(Engine(OSPREL_BINARY, folder, {},
                                          "--input-script " + folder.Path() + "/bad.txt --frames 1 2>&1"));
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.output.find("line 1: focus takes in or out"), std::string::npos) << bad.output;
}

TEST(Program, MalformedInputScriptStopsTheRun) {
    ScratchFolder folder;
    folder.Write("bad.txt", "1 key w down\n2 key nosuchkey up\n");
    ProgramResult run = RunProgram(Engine(OSPREL_BINARY, folder, {},
                                          "--input-script " + folder.Path() + "/bad.txt --frames 1 2>&1"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.output.find("line 2: no key is called 'nosuchkey'"), std::string::npos) << run.output;
}

TEST(Program, KeysPressedInTheWindowMoveTheCamera) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    ScratchFolder folder;
    InstallContent(folder);
    // No frame limit: however slowly the machine runs, the key is held for
    // some frames, and Esc (bound to quit) ends the run with its stats.
    folder.Write("press.sh",
                 "#!/bin/sh\n"
                 "echo 'com_log 1' >> \"$2/autoexec.cfg\"\n"
                 "\"$1\" --basedir \"$2\" --set fullscreen=0 --set cursor=1 --set debug=0 --fixed-frame-ms 10 "
                 "--stats > \"$2/run.out\" 2>&1 &\n"
                 "engine=$!\n"
                 "for i in $(seq 600); do w=$(xdotool search --name '^Osprel 2.0b$' 2>/dev/null | head -1); "
                 "[ -n \"$w\" ] && break; sleep 0.1; done\n"
                 // On a busy machine the window may show long before the
                 // start-up has ended (its last step reads the start-up demo)
                 // and frames run; a key pressed and let go before then would
                 // move nothing.
                 "for i in $(seq 600); do grep -q 'demo' \"$2/runtime.log\" 2>/dev/null && break; "
                 "sleep 0.1; done\n"
                 "sleep 1\n"
                 "xdotool mousemove --window \"$w\" 400 300 keydown --window \"$w\" w\n"
                 "sleep 3\n"
                 "xdotool keyup --window \"$w\" w\n"
                 "sleep 0.5\n"
                 "for i in $(seq 120); do kill -0 $engine 2>/dev/null || break; "
                 "xdotool windowfocus \"$w\" key Escape 2>/dev/null; sleep 0.5; done\n"
                 "kill $engine 2>/dev/null\n"
                 "wait $engine\n");
    const std::string command =
        InstanceEnvironment() + OnVirtualDisplay("sh " + ShellQuote(folder.Path() + "/press.sh") + " " +
                                                     ShellQuote(OSPREL_BINARY) + " " + ShellQuote(folder.Path()),
                                                 folder.Path() + "/xvfb.log", folder.Path() + "/run.out");
    ProgramResult run = RunProgram(command);
    const std::string output = folder.Read("run.out");
    const size_t at = output.find(" pos=");
    ASSERT_NE(at, std::string::npos) << output;
    float x = 0, y = 0, z = 0;
    ASSERT_EQ(std::sscanf(output.c_str() + at, " pos=%f,%f,%f", &x, &y, &z), 3);
    EXPECT_LT(z, 435.0f - 2.0f) << output;  // walked forward from the tower's start (a frame is 2.125)
}

TEST(Program, EnterAndEscapeAnswerTheStartupDialog) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    ScratchFolder folder;
    InstallContent(folder);
    // Real key events (XTEST) into the focused dialog; the engine prints its
    // stats line only when the dialog was answered with OK.
    folder.Write("answer.sh",
                 "#!/bin/sh\n"
                 "\"$1\" --basedir \"$2\" --frames 5 --stats > \"$2/$3.out\" 2>&1 &\n"
                 "engine=$!\n"
                 // Pressed until the dialog has gone: a busy machine may show
                 // it before it takes keys. Once it is gone, nothing is pressed.
                 // Only a mapped window can take the focus.
                 "for i in $(seq 240); do kill -0 $engine 2>/dev/null || break; "
                 "w=$(xdotool search --onlyvisible --name 'Configuration$' 2>/dev/null | head -1); "
                 "if [ -n \"$w\" ]; then xdotool windowfocus \"$w\" key \"$3\" 2>/dev/null; fi; sleep 0.5; done\n"
                 "wait $engine\n"
                 "echo $? > \"$2/$3.code\"\n");
    for (const char* key : {"KP_Enter", "Escape"}) {
        RunProgram(InstanceEnvironment() +
                   OnVirtualDisplay("sh " + ShellQuote(folder.Path() + "/answer.sh") + " " + ShellQuote(OSPREL_BINARY) +
                                        " " + ShellQuote(folder.Path()) + " " + key,
                                    folder.Path() + "/xvfb.log", folder.Path() + "/" + key + ".out"));
    }
    EXPECT_EQ(folder.Read("KP_Enter.code"), "0\n");
    EXPECT_NE(folder.Read("KP_Enter.out").find("stats: frames=5 "), std::string::npos)
        << folder.Read("KP_Enter.out");
    EXPECT_EQ(folder.Read("Escape.code"), "0\n");
    EXPECT_EQ(folder.Read("Escape.out").find("stats:"), std::string::npos) << folder.Read("Escape.out");
}

TEST(Program, KeysTypedQuicklyIntoTheDebugConsoleAreNotLost) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    ScratchFolder folder;
    InstallContent(folder);
    // The engine is stopped while every key is typed and then let go on, so
    // all of them, each press with its release, reach it within one frame,
    // as at a very low frame rate. The lines reach the runtime log once the
    // first of them turns it on; the last one quits.
    folder.Write("type.sh",
                 "#!/bin/sh\n"
                 "\"$1\" --basedir \"$2\" --set debug=1 --set fullscreen=0 --set cursor=1 "
                 "--frames 100000 > \"$2/run.out\" 2>&1 &\n"
                 "engine=$!\n"
                 "for i in $(seq 600); do w=$(xdotool search --name '^Osprel 2.0 Debug Console$' 2>/dev/null "
                 "| head -1); [ -n \"$w\" ] && break; sleep 0.1; done\n"
                 "xdotool windowfocus --sync \"$w\"\n"
                 "sleep 0.5\n"
                 "kill -STOP $engine\n"
                 "xdotool type --delay 1 'com_log 1'; xdotool key --delay 1 Return\n"
                 "xdotool type --delay 1 'fov 33'; xdotool key --delay 1 Return Up KP_Enter\n"
                 "xdotool type --delay 1 'cvarl'; xdotool key --delay 1 Tab Return\n"
                 "xdotool type --delay 1 'fovx'; xdotool key --delay 1 BackSpace Return\n"
                 "xdotool type --delay 1 'quit'; xdotool key --delay 1 Return\n"
                 "kill -CONT $engine\n"
                 "wait $engine\n"
                 "echo $? > \"$2/code\"\n");
    RunProgram(InstanceEnvironment() + "timeout 300 xvfb-run -a -n $((100 + $$ % 800)) -s '-screen 0 1600x1024x24' sh " +
               ShellQuote(folder.Path() + "/type.sh") + " " + ShellQuote(OSPREL_BINARY) + " " +
               ShellQuote(folder.Path()));
    EXPECT_EQ(folder.Read("code"), "0\n") << folder.Read("run.out");
    const std::vector<std::string> log = SplitLines(folder.Read("runtime.log"));
    const std::vector<std::string> start = {"com_log set \"1\"\r", "] fov 33\r", "fov set \"33.000000\"\r",
                                            "] fov 33\r", "fov set \"33.000000\"\r", "] cvarlist \r"};
    ASSERT_GE(log.size(), start.size()) << folder.Read("runtime.log");
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + static_cast<long>(start.size())), start);
    // Tab completed the name; the listing follows, then the corrected line.
    ASSERT_GT(log.size(), start.size() + 1);
    EXPECT_EQ(log[start.size()], "\r");  // cvarlist starts with an empty line
    EXPECT_EQ(log[start.size() + 1].rfind("Printing ", 0), 0u) << log[start.size() + 1];
    std::vector<std::string> end = Between(log, "] fov\r", "");
    end.resize(std::min<size_t>(end.size(), 2));
    EXPECT_EQ(end, (std::vector<std::string>{"fov is \"33.000000\"\r", "] quit\r"}))
        << folder.Read("runtime.log");
}

namespace {

// A display number no X server answers on this machine.
std::string UnreachableDisplay() {
    for (int number = 97; number < 200; ++number) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (::access(socket.c_str(), F_OK) != 0) return ":" + std::to_string(number);
    }
    return ":199";
}

}  // namespace

TEST(Program, WithoutADisplayTheRunIsHeadlessAndSaysSo) {
    ScratchFolder folder;
    InstallContent(folder);
    // No display at all, and one that cannot be reached: either way the
    // console lines come on standard input and the answers on standard output.
    const std::string noDisplay[] = {"env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER ",
                                     "env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=" + UnreachableDisplay() + " "};
    for (const std::string& environment : noDisplay) {
        ProgramResult run = RunProgram("printf 'fov 61\\nquit\\n' | " + InstanceEnvironment() + environment +
                                       "timeout 120 " + ShellQuote(OSPREL_BINARY) + " --basedir " +
                                       ShellQuote(folder.Path()) + " --set debug=1 2>" +
                                       ShellQuote(folder.Path() + "/err.txt"));
        EXPECT_EQ(run.exitCode, 0) << environment << run.output;
        EXPECT_NE(run.output.find("Globally Allocated Subsystems (sorted): 6 systems\n"), std::string::npos)
            << environment << run.output;
        EXPECT_NE(run.output.find("] fov 61\nfov set \"61.000000\"\n] quit\n"), std::string::npos)
            << environment << run.output;
        // (Libraries that look for a display may add lines of their own.)
        const std::string error = folder.Read("err.txt");
        const std::string line = "osprel: no display can be reached; running headless\n";
        const size_t said = error.find(line);
        EXPECT_NE(said, std::string::npos) << environment << error;
        EXPECT_EQ(error.find(line, said + 1), std::string::npos) << environment << error;
    }
}

TEST(Program, AWorldOnTheCommandLineOpensInAWindowUnlessSetSaysOtherwise) {
    ScratchFolder folder;
    InstallContent(folder);
    folder.CopyContent({"maps/arena.lmf"});
    ProgramResult run = RunEngine(folder, {"vid_fullscreen", "win_width", "win_height"}, "arena --frames 1 </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("vid_fullscreen is \"0\"\nwin_width is \"800\"\nwin_height is \"600\"\n"),
              std::string::npos)
        << run.output;
    run = RunEngine(folder, {"vid_fullscreen"}, "arena --set fullscreen=1 --frames 1 </dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("vid_fullscreen is \"1\"\n"), std::string::npos) << run.output;
    // Without a world the dialog's own default stands.
    run = RunEngine(folder, {"vid_fullscreen"}, "--set demo=3 --frames 1 </dev/null");
    EXPECT_NE(run.output.find("vid_fullscreen is \"1\"\n"), std::string::npos) << run.output;
}

TEST(Program, AWorldThatCannotBeOpenedSaysWhyAndSuggestsNames) {
    ScratchFolder folder;
    InstallContent(folder);
    folder.CopyContent({"maps/arena.lmf"});
    const std::vector<std::string> expected = {
        "osprel: cannot open the world 'arenna'",
        "osprel: Error: no world named arenna (neither maps/arenna.lmf nor maps/arenna.bsp exists)",
    };
    const std::string closest = "osprel: The closest names: arena";  // then the nearest archived ones
    const std::string hint = "osprel: The console command maps lists every world (osprel --headless --exec maps --frames 1).";
    ProgramResult run = RunProgram(Engine(OSPREL_BINARY, folder, {}, "arenna --frames 1 </dev/null 2>" +
                                                                          ShellQuote(folder.Path() + "/err.txt")));
    EXPECT_EQ(run.exitCode, 1);
    const std::vector<std::string> lines = SplitLines(folder.Read("err.txt"));
    ASSERT_EQ(lines.size(), 4u) << folder.Read("err.txt");
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2), expected);
    EXPECT_EQ(lines[2].rfind(closest, 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], hint);

    // In a window the same reason comes in a box, and on standard error.
    if (!XvfbAndXdotoolInstalled()) GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    RunWindowedAnsweringBoxes(folder, "arenna --frames 100000");
    EXPECT_EQ(folder.Read("code"), "1\n") << folder.Read("run.err");
    EXPECT_TRUE(BoxReachedTheUser(folder, "Osprel Error", "Cannot open the world 'arenna'.\n\n"
                                                          "Error: no world named arenna"))
        << folder.Read("run.err");
    const std::string error = folder.Read("run.err");
    for (const std::string& line : expected) EXPECT_NE(error.find(line + "\n"), std::string::npos) << line;
    EXPECT_NE(error.find("\n" + closest), std::string::npos) << error;
    EXPECT_NE(error.find("\n" + hint + "\n"), std::string::npos) << error;
}

TEST(Program, PlusSetMapAndExecWorkAsTheirLongOptions) {
    ScratchFolder folder;
    InstallContent(folder);
    folder.CopyContent({"maps/arena.lmf"});
    folder.Write("mine.cfg", "p_speed 7.5\n");
    ProgramResult run = RunEngine(folder, {},
                                  "+set fov 70 +exec mine.cfg +map arena --exec fov --exec p_speed --frames 1 "
                                  "</dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    // The variable is set before the world opens, the world opens at its
    // spawn point, then the config file runs among the --exec lines.
    const size_t set = run.output.find("fov set \"70.000000\"\n");
    const size_t opened = run.output.find("Attempting to load world: maps/arena.lmf\n");
    ASSERT_NE(set, std::string::npos) << run.output;
    ASSERT_NE(opened, std::string::npos) << run.output;
    EXPECT_LT(set, opened);
    EXPECT_EQ(run.output.find("maps/tower.lmf"), std::string::npos) << run.output;  // not the start level
    EXPECT_NE(run.output.find("fov is \"70.000000\"\np_speed is \"7.500000\"\n"), std::string::npos) << run.output;
}

TEST(Program, StatsCountTheFramesDrawnWhenQuitOrEscEndsTheRun) {
    ScratchFolder folder;
    for (const char* ending : {"4 console quit\n", "4 key esc down\n"}) {
        folder.Write("input.txt", ending);
        ProgramResult run = RunEngine(folder, {},
                                      "--input-script " + folder.Path() + "/input.txt --frames 50 --stats </dev/null");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const size_t at = run.output.find("stats: frames=");
        ASSERT_NE(at, std::string::npos) << run.output;
        long long frames = 0;
        double draws = 0, binds = 0, uploads = 0, bytes = 0, states = 0, clears = 0;
        ASSERT_EQ(std::sscanf(run.output.c_str() + at, "stats: frames=%lld", &frames), 1);
        EXPECT_LT(frames, 50) << ending;  // ended by quit, not by the frame limit
        const size_t work = run.output.find("stats: per frame: draws=", at);
        ASSERT_NE(work, std::string::npos) << run.output;
        ASSERT_EQ(std::sscanf(run.output.c_str() + work,
                              "stats: per frame: draws=%lf texture_binds=%lf constant_uploads=%lf constant_bytes=%lf\n"
                              "stats: per frame: state_sets=%lf clears=%lf",
                              &draws, &binds, &uploads, &bytes, &states, &clears),
                  6);
        // The frames before quit drew the five sky faces and cleared the back
        // buffer each.
        EXPECT_GE(draws * static_cast<double>(frames), 5.0 * 3) << ending << run.output.substr(work);
        EXPECT_GE(clears * static_cast<double>(frames), 3.0) << ending;
        EXPECT_GT(uploads, 0.0) << ending;
    }
}
