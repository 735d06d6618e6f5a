#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/command_interpreter.h"
#include "console/console_object.h"
#include "support/test_support.h"

namespace {

struct ExpectedVariable {
    const char* name;
    int16_t kind;
    double value;  // integer and float defaults
    const char* text;  // string defaults
    bool readOnly;
};

constexpr int16_t I = kConsoleInteger;
constexpr int16_t F = kConsoleFloat;
constexpr int16_t S = kConsoleString;

const ExpectedVariable kCatalogue[] = {
    {"com_log", I, 0, nullptr, false},          {"vid_fullscreen", I, 0, nullptr, false},
    {"win_debug", I, 1, nullptr, false},        {"win_cursor", I, 1, nullptr, false},
    {"win_width", I, 800, nullptr, true},       {"win_height", I, 600, nullptr, true},
    {"r_wireframe", I, 0, nullptr, false},      {"vid_viewport_x", I, 0, nullptr, false},
    {"vid_viewport_y", I, 0, nullptr, false},   {"vid_viewport_width", I, 640, nullptr, false},
    {"vid_viewport_height", I, 480, nullptr, false}, {"vid_scissor_x", I, 0, nullptr, false},
    {"vid_scissor_y", I, 0, nullptr, false},    {"vid_scissor_width", I, 640, nullptr, false},
    {"vid_scissor_height", I, 480, nullptr, false}, {"vid_effectmode", I, 0, nullptr, false},
    {"vid_driver", S, 0, "Default Driver", true}, {"vid_device", S, 0, "Default Device", true},
    {"vid_description", S, 0, "Default Description", true},
    {"vid_width", I, 800, nullptr, true},       {"vid_height", I, 600, nullptr, true},
    {"fov", F, 90.0, nullptr, false},           {"vid_multisample", I, 0, nullptr, false},
    {"vid_tiling", I, 0, nullptr, false},       {"r_materials", I, 1, nullptr, false},
    {"p_speed", F, 4.25, nullptr, false},
    {"sensitivity", F, 0.05, nullptr, false},   {"m_invert", I, 0, nullptr, false},
    {"cg_showfps", I, 1, nullptr, false},       {"cg_color", I, 1, nullptr, false},
    {"cg_lightmaps", I, 1, nullptr, false},     {"cg_textures", I, 1, nullptr, false},
    {"cg_fillmode", I, 0, nullptr, false},      {"cg_rows", I, 8, nullptr, false},
    {"cg_usetree", I, 1, nullptr, false},       {"cg_maxmip", I, 0, nullptr, false},
    {"cg_drawModel", I, -1, nullptr, false},    {"bsp_noclip", I, 0, nullptr, false},
    {"p_thrust", F, 0.0, nullptr, false},       {"p_ground", I, 1, nullptr, false},
    {"bsp_sort", I, 0, nullptr, false},         {"bsp_drawlevel", I, 0, nullptr, false},
    {"bsp_vertexlit", I, 1, nullptr, false},
};

int32_t RecordCall(int32_t, int32_t, int32_t, const ConsoleArgument*) { return 1; }

}  // namespace

TEST(ConsoleCatalogue, EveryVariableHasItsDefaultKindAndFlag) {
    const ConsoleObjectList& list = g_commandInterpreter.Objects();
    int variables = 0;
    for (int32_t i = 0; i < list.Count(); ++i) {
        if (list.At(i)->IsVariable()) ++variables;
    }
    EXPECT_EQ(variables, 43);

    for (const ExpectedVariable& expected : kCatalogue) {
        SCOPED_TRACE(expected.name);
        const ConsoleObject* object = FindConsoleObject(expected.name);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->kind, expected.kind);
        EXPECT_EQ(object->readOnly != 0, expected.readOnly);
        switch (expected.kind) {
            case kConsoleInteger:
                EXPECT_EQ(object->intValue, static_cast<int32_t>(expected.value));
                break;
            case kConsoleFloat:
                // The default is the float nearest the catalogue's value.
                EXPECT_EQ(object->floatValue, static_cast<float>(expected.value));
                break;
            default:
                EXPECT_STREQ(object->stringValue, expected.text);
        }
    }
}

TEST(ConsoleCatalogue, ListIsInByteOrderOfNames) {
    const ConsoleObjectList& list = g_commandInterpreter.Objects();
    ASSERT_GT(list.Count(), 40);
    const char* previous = nullptr;
    for (int32_t i = 0; i < list.Count(); ++i) {
        const ConsoleObject* object = list.At(i);
        if (object->kind == kConsoleDestroyed) continue;
        if (previous != nullptr) {
            EXPECT_LE(std::strcmp(previous, object->name), 0) << object->name;
        }
        previous = object->name;
    }
    // "+" sorts before every letter, upper case before lower case.
    EXPECT_LT(std::strcmp("+forward", "bind"), 0);
}

TEST(ConsoleLookup, NamesAreCaseSensitive) {
    EXPECT_NE(FindConsoleObject("fov"), nullptr);
    EXPECT_EQ(FindConsoleObject("FOV"), nullptr);
    EXPECT_EQ(FindConsoleObject("Fov"), nullptr);
    EXPECT_EQ(FindConsoleObject(""), nullptr);
}

TEST(ConsoleLookup, DuplicateNameLandsAfterTheFirstAndLookupsReachTheFirst) {
    ConsoleVariable first("zz_test_duplicate", 1);
    ConsoleVariable second("zz_test_duplicate", 2);

    const ConsoleObjectList& list = g_commandInterpreter.Objects();
    int32_t firstAt = -1, secondAt = -1;
    for (int32_t i = 0; i < list.Count(); ++i) {
        if (list.At(i) == &first) firstAt = i;
        if (list.At(i) == &second) secondAt = i;
    }
    ASSERT_GE(firstAt, 0);
    EXPECT_EQ(secondAt, firstAt + 1);
    EXPECT_EQ(FindConsoleObject("zz_test_duplicate"), &first);

    PrintCapture output;
    ExecuteLine("zz_test_duplicate 7");
    EXPECT_EQ(first.intValue, 7);
    EXPECT_EQ(second.intValue, 2);
}

TEST(ConsoleLookup, DestroyedObjectsArePassedOver) {
    {
        ConsoleCommand doomed("zz_test_doomed", RecordCall);
        ASSERT_EQ(FindConsoleObject("zz_test_doomed"), &doomed);
    }
    EXPECT_EQ(FindConsoleObject("zz_test_doomed"), nullptr);
    PrintCapture output;
    ExecuteLine("zz_test_doomed");
    EXPECT_EQ(output.Last(), "zz_test_doomed: Unknown command.");
}

TEST(ConsoleVariableRecord, ProgramCodeWritesReadOnlyVariables) {
    ConsoleVariable locked("zz_test_locked", 800, true);
    PrintCapture output;
    ExecuteLine("zz_test_locked 640");
    EXPECT_EQ(output.Last(), "zz_test_locked is readonly.");
    EXPECT_EQ(locked.intValue, 800);
    locked.intValue = 1024;  // what the start-up dialog does
    ExecuteLine("zz_test_locked");
    EXPECT_EQ(output.Last(), "zz_test_locked is \"1024\"");
}
