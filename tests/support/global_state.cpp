// Every test leaves the engine's globals as it found them: the console
// variables' values and the subsystems' flags are put back after each test
// (and fontconfig's caches given back),
// so that the whole suite can run in one process in any order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/subsystem.h"
#include "console/command_interpreter.h"
#include "console/console_object.h"
#include "platform/font_files.h"

namespace {

struct VariableValue {
    ConsoleObject* object;
    std::string name;
    int32_t intValue;
    float floatValue;
    std::string stringValue;
};

struct SubsystemFlags {
    Subsystem* subsystem;
    int32_t active;
    int32_t running;
    int32_t finished;
};

class GlobalStateGuard : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        variables_.clear();
        const ConsoleObjectList& list = g_commandInterpreter.Objects();
        for (int32_t i = 0; i < list.Count(); ++i) {
            ConsoleObject* object = list.At(i);
            if (!object->IsVariable() || object->name == nullptr) continue;
            variables_.push_back({object, object->name, object->intValue, object->floatValue,
                                  object->stringValue != nullptr ? object->stringValue : ""});
        }
        subsystems_.clear();
        for (int32_t i = 0; i < g_subsystemRegistry.Count(); ++i) {
            Subsystem* subsystem = g_subsystemRegistry.At(i);
            subsystems_.push_back({subsystem, subsystem->active, subsystem->running, subsystem->finished});
        }
    }

    void OnTestEnd(const ::testing::TestInfo&) override {
        const ConsoleObjectList& list = g_commandInterpreter.Objects();
        for (const VariableValue& saved : variables_) {
            // Only records still in the list: a test's own variables are gone.
            bool present = false;
            for (int32_t i = 0; i < list.Count() && !present; ++i) present = list.At(i) == saved.object;
            if (!present || saved.object->name == nullptr || saved.name != saved.object->name) continue;
            saved.object->intValue = saved.intValue;
            saved.object->floatValue = saved.floatValue;
            if (saved.object->kind == kConsoleString) saved.object->SetString(saved.stringValue.c_str());
        }
        for (const SubsystemFlags& saved : subsystems_) {
            for (int32_t i = 0; i < g_subsystemRegistry.Count(); ++i) {
                if (g_subsystemRegistry.At(i) != saved.subsystem) continue;
                saved.subsystem->active = saved.active;
                saved.subsystem->running = saved.running;
                saved.subsystem->finished = saved.finished;
            }
        }
        // Font lookups fill fontconfig's caches; the engine gives them back
        // when its video shuts down, and a test that looked a font up without
        // that gives them back here.
        ReleaseFontLookup();
    }

private:
    std::vector<VariableValue> variables_;
    std::vector<SubsystemFlags> subsystems_;
};

// Registered while the test program's globals are constructed, before main.
const bool s_registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new GlobalStateGuard);
    return true;
}();

}  // namespace
