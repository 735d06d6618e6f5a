#include "platform/startup_dialog.h"

#include <algorithm>

#include "base/message_output.h"
#include "console/command_interpreter.h"
#include "console/runtime_log.h"
#include "platform/font_files.h"
#include "platform/operating_system.h"
#include "platform/platform_backend.h"

const ResolutionEntry kResolutions[6] = {
    {"640x480x32", 640, 480},          {"800x600x32", 800, 600},
    {"1024x768x32", 1024, 768},        {"1280x1024x32", 1280, 1024},
    {"1280x720x32 (16:9)", 1280, 720}, {"1920x1080x32 (16:9)", 1920, 1080},
};

const RenderPathEntry kRenderPaths[5] = {
    {"Render Path: None", 0},        {"Render Path: Fake HDR", 1},
    {"Render Path: Motion Blur", 2}, {"Render Path: HDR Blur", 3},
    {"Render Path: Depth of Field", 4},
};

const LevelEntry kLevels[3] = {
    {"Arena World", "v_setpos 745 115 -415", "map maps/arena.lmf"},
    {"Canyon World", "v_setpos -384 228 -265", "map maps/canyon.lmf"},
    {"Tower World", "v_setpos 274 478 435", "map maps/tower.lmf"},
};

const DemoEntry kDemos[4] = {
    {"No Demo (Interactive)", nullptr, nullptr},
    {"Demo001.dem", "load demos\\demo001.dem", "play"},
    {"Demo002.dem", "load demos\\demo002.dem", "play"},
    {"Demo003.dem", "load demos\\demo003.dem", "play"},
};

StartupSelections g_startupSelections;

namespace {

const char kDebugLogWarning[] =
    "Please be aware that selecting 'Debug Logging' may severely impact performance as Osprel "
    "must take precautions (such as flushing the file cache after every write) to save the log "
    "file even in the event of a system crash.";

DialogControl Control(int id, ControlKind kind, const char* caption, int x, int y, int w, int h,
                      bool disabled = false, bool sorted = false) {
    return DialogControl{id, kind, caption, x, y, w, h, disabled, sorted, {}, -1, false,
                         0, 0, 0, 0};
}

// Adds an item as a combo box does: sorted boxes keep their items in text order.
void AddItem(DialogControl* combo, const char* text) {
    if (!combo->sorted) {
        combo->items.emplace_back(text);
        return;
    }
    auto at = std::upper_bound(combo->items.begin(), combo->items.end(), std::string(text));
    combo->items.insert(at, text);
}

void Place(DialogControl* combo, int x, int y, int w, int h) {
    combo->pixelX = x;
    combo->pixelY = y;
    combo->pixelWidth = w;
    combo->pixelHeight = h;
}

bool ParseIndex(const std::string& value, int limit, int* index) {
    if (value.empty() || value.size() > 2) return false;
    for (char c : value) {
        if (c < '0' || c > '9') return false;
    }
    *index = std::stoi(value);
    return *index < limit;
}

}  // namespace

StartupDialog::StartupDialog() {
    using K = ControlKind;
    controls_ = {
        Control(0, K::kGroupBox, "Screen Resolution", 7, 6, 120, 30),
        Control(kIdResolution, K::kComboBox, "", 17, 20, 100, 60),
        Control(0, K::kGroupBox, "Game Controls", 7, 47, 120, 30),
        Control(kIdRenderPath, K::kComboBox, "", 17, 62, 100, 60),
        Control(0, K::kGroupBox, "Demo", 7, 88, 120, 30),
        Control(kIdDemo, K::kComboBox, "", 17, 99, 100, 60, false, true),
        Control(0, K::kGroupBox, "Level", 137, 6, 120, 44),
        Control(kIdLevel, K::kComboBox, "", 147, 20, 100, 60),
        Control(kIdCollision, K::kCheckBox, "Collision", 147, 36, 80, 10, true),
        Control(0, K::kGroupBox, "Debug Controls", 137, 56, 170, 64),
        Control(kIdInvertMouse, K::kCheckBox, "Invert Mouse", 143, 68, 80, 10),
        Control(kIdShowCursor, K::kCheckBox, "Show cursor", 143, 84, 80, 10),
        Control(kIdStereoscopic, K::kCheckBox, "Stereoscopic", 143, 100, 80, 10, true),
        Control(kIdDebugWindow, K::kCheckBox, "Debug Window", 228, 68, 75, 10),
        Control(kIdFullscreen, K::kCheckBox, "Fullscreen", 228, 84, 75, 10),
        Control(kIdDebugLog, K::kCheckBox, "Debug Log", 228, 100, 75, 10),
        Control(kIdOk, K::kDefaultPushButton, "OK", 264, 6, 45, 14),
        Control(kIdServer, K::kPushButton, "Server", 264, 22, 45, 14, true),
        Control(kIdExit, K::kPushButton, "Exit", 264, 38, 45, 14),
    };
}

DialogControl* StartupDialog::Find(int id) {
    for (DialogControl& c : controls_) {
        if (c.id == id && id != 0) return &c;
    }
    return nullptr;
}

void StartupDialog::Initialise() {
    DialogControl* resolution = Find(kIdResolution);
    DialogControl* path = Find(kIdRenderPath);
    DialogControl* level = Find(kIdLevel);
    DialogControl* demo = Find(kIdDemo);
    for (const ResolutionEntry& e : kResolutions) AddItem(resolution, e.name);
    for (const RenderPathEntry& e : kRenderPaths) AddItem(path, e.name);
    for (const LevelEntry& e : kLevels) AddItem(level, e.name);
    for (const DemoEntry& e : kDemos) AddItem(demo, e.name);
    Place(resolution, 25, 35, 150, 100);
    Place(path, 25, 102, 150, 100);
    Place(level, 220, 35, 150, 100);
    Place(demo, 25, 162, 150, 100);

    resolution->selection = 1;
    path->selection = 1;
    level->selection = 2;
    demo->selection = 2;
    Find(kIdFullscreen)->checked = true;
}

int StartupDialog::OnCommand(int id) {
    switch (id & 0xFFFF) {
        case kIdOk:
            Accept();
            return 1;
        case kIdExit:
            g_operatingSystem.finished = 1;
            return 0;
        default:
            return -1;
    }
}

int StartupDialog::CommandForKey(DialogKey key, bool listOpen) {
    if (listOpen) return 0;
    switch (key) {
        case DialogKey::kEnter:
        case DialogKey::kKeypadEnter:
            for (const DialogControl& c : controls_) {
                if (c.kind == ControlKind::kDefaultPushButton && !c.disabled) return c.id;
            }
            return 0;
        case DialogKey::kEscape: {
            const DialogControl* exit = Find(kIdExit);
            return exit != nullptr && !exit->disabled ? kIdExit : 0;
        }
    }
    return 0;
}

void StartupDialog::Accept() {
    const int demoPosition = Find(kIdDemo)->selection;
    const int resolution = std::clamp(Find(kIdResolution)->selection, 0, 5);
    const int path = std::clamp(Find(kIdRenderPath)->selection, 0, 4);
    // Choosing demo N starts level N; the level list counts only without one.
    g_startupSelections.demoPosition = demoPosition;
    g_startupSelections.levelIndex =
        demoPosition == kNoDemoPosition ? Find(kIdLevel)->selection : demoPosition;

    choices_.width = kResolutions[resolution].width;
    choices_.height = kResolutions[resolution].height;
    choices_.invertMouse = Find(kIdInvertMouse)->checked;
    choices_.fullscreen = Find(kIdFullscreen)->checked;
    choices_.showCursor = Find(kIdShowCursor)->checked;
    choices_.debugWindow = Find(kIdDebugWindow)->checked;
    choices_.collision = Find(kIdCollision)->checked;
    choices_.effectMode = kRenderPaths[path].effectMode;
    choices_.debugLog = Find(kIdDebugLog)->checked;
    // The warning comes while the dialog is still up, and goes into the
    // log it warns about.
    com_log.intValue = choices_.debugLog ? 1 : 0;
    if (com_log.intValue != 0) ReportWarning("%s", kDebugLogWarning);
}

bool StartupDialog::SetByName(const std::string& name, const std::string& value,
                              std::string* error) {
    struct Named {
        const char* name;
        int id;
        int limit;  // combo boxes: number of entries; check boxes: 0
    };
    static const Named kNamed[] = {
        {"resolution", kIdResolution, 6}, {"path", kIdRenderPath, 5},
        {"level", kIdLevel, 3},           {"demo", kIdDemo, 4},
        {"fullscreen", kIdFullscreen, 0}, {"cursor", kIdShowCursor, 0},
        {"debug", kIdDebugWindow, 0},     {"invert", kIdInvertMouse, 0},
        {"log", kIdDebugLog, 0},          {"collision", kIdCollision, 0},
    };
    for (const Named& n : kNamed) {
        if (name != n.name) continue;
        DialogControl* control = Find(n.id);
        int index = 0;
        if (n.limit > 0) {
            if (!ParseIndex(value, n.limit, &index)) {
                *error = name + " takes a position from 0 to " + std::to_string(n.limit - 1);
                return false;
            }
            control->selection = index;
        } else {
            if (value != "0" && value != "1") {
                *error = name + " takes 0 or 1";
                return false;
            }
            control->checked = value == "1";
        }
        return true;
    }
    *error = "no dialog control is called '" + name + "'";
    return false;
}

int ShowStartupDialog(PlatformBackend* backend, const StartupAnswers& answers, StartupChoices* choices) {
    StartupDialog dialog;
    if (answers.answerWithoutShowing || backend->IsHeadless()) {
        dialog.Initialise();
        for (const auto& [name, value] : answers.settings) {
            std::string error;
            // The command line was checked before start-up; nothing fails here.
            dialog.SetByName(name, value, &error);
        }
        const int answer = dialog.OnCommand(kIdOk);
        *choices = dialog.Choices();
        return answer;
    }
    const int answer = backend->RunStartupDialog(&dialog);
    *choices = dialog.Choices();
    // The dialog's fonts are made: fontconfig's caches are given back (the
    // overlay loads them again if the engine goes on).
    ReleaseFontLookup();
    return answer;
}

void StartLevelAndDemo() {
    const int level = g_startupSelections.levelIndex;
    if (level < 0 || level > 2) return;
    ExecuteLine(kLevels[level].positionCommand);
    ExecuteLine(kLevels[level].mapCommand);
    if (g_startupSelections.demoPosition == level) {
        // Demo positions 0-2 hold the three demos in the order they were added.
        ExecuteLine(kDemos[level + 1].loadCommand);
    }
}
