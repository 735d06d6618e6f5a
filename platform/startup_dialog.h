// The start-up configuration dialog: resolution, render path, level, demo and
// a few switches, chosen before the main window opens. The dialog's logic
// works on a table of its controls, so it is the same whether the table is
// drawn in a window or answered from the command line.
#pragma once

#include <string>
#include <vector>

enum class ControlKind { kGroupBox, kComboBox, kCheckBox, kPushButton, kDefaultPushButton };

struct DialogControl {
    int id;                 // 0 for group boxes, which have none
    ControlKind kind;
    const char* caption;
    int x, y, width, height;  // dialog units
    bool disabled;
    bool sorted;              // combo boxes that keep their items in text order
    std::vector<std::string> items;
    int selection;            // combo boxes: -1 while nothing is selected
    bool checked;             // check boxes
    int pixelX, pixelY, pixelWidth, pixelHeight;  // combo boxes are placed in pixels
};

// Control ids.
constexpr int kIdOk = 1;
constexpr int kIdExit = 1003;
constexpr int kIdInvertMouse = 1007;
constexpr int kIdFullscreen = 1008;
constexpr int kIdDebugWindow = 1009;
constexpr int kIdShowCursor = 1010;
constexpr int kIdResolution = 1011;
constexpr int kIdRenderPath = 1012;
constexpr int kIdCollision = 1013;
constexpr int kIdLevel = 1014;
constexpr int kIdServer = 1015;
constexpr int kIdDemo = 1017;
constexpr int kIdDebugLog = 1018;
constexpr int kIdStereoscopic = 1019;

struct ResolutionEntry {
    const char* name;
    int width, height;
};
struct RenderPathEntry {
    const char* name;
    int effectMode;
};
struct LevelEntry {
    const char* name;
    const char* positionCommand;
    const char* mapCommand;
};
struct DemoEntry {
    const char* name;
    const char* loadCommand;
    const char* playCommand;
};

extern const ResolutionEntry kResolutions[6];
extern const RenderPathEntry kRenderPaths[5];
extern const LevelEntry kLevels[3];
extern const DemoEntry kDemos[4];  // in the order they are added

// The keys the dialog answers itself, as the dialog manager of a modal
// dialog does: Enter (either one) presses the default button, Escape leaves.
enum class DialogKey { kEnter, kKeypadEnter, kEscape };

// The demo position that means "No Demo (Interactive)".
constexpr int kNoDemoPosition = 3;

// What the dialog chose beyond the console variables.
struct StartupSelections {
    int levelIndex = 2;
    int demoPosition = 2;
};
extern StartupSelections g_startupSelections;

// What OK chose for the console variables; start-up puts it into them
// (engine/startup.h). The debug log switch is the exception: the dialog sets
// com_log itself, so that the warning it shows is the log's first line.
struct StartupChoices {
    int width = 0;
    int height = 0;
    bool invertMouse = false;
    bool fullscreen = false;
    bool showCursor = false;
    bool debugWindow = false;
    bool collision = false;
    int effectMode = 0;
    bool debugLog = false;
};

class StartupDialog {
public:
    static constexpr const char* kTitle = "Project Osprel 2.0b Configuration";
    static constexpr int kWidthUnits = 316;
    static constexpr int kHeightUnits = 127;

    // The controls as the resource lays them out, before initialisation.
    StartupDialog();

    // Fills and places the combo boxes and sets the defaults.
    void Initialise();
    // A command: returns 1 or 0 when it ends the dialog with that result,
    // -1 when the dialog goes on.
    int OnCommand(int id);
    // The close box ends the dialog with 0.
    int OnClose() { return 0; }
    // The button a key presses (its id, for OnCommand), or 0 when it presses
    // none. While a list is dropped down the key belongs to the list, which
    // it closes, so it presses nothing.
    int CommandForKey(DialogKey key, bool listOpen);

    // Sets a control by its command-line name (resolution, path, level, demo
    // as positions; fullscreen, cursor, debug, invert, log, collision as 0 or
    // 1). Returns false with a message in *error for a bad name or value.
    bool SetByName(const std::string& name, const std::string& value, std::string* error);

    // What the last OK chose.
    const StartupChoices& Choices() const { return choices_; }

    std::vector<DialogControl>& Controls() { return controls_; }
    DialogControl* Find(int id);
    // Dialog units to pixels for the dialog's font.
    static int UnitsToPixelsX(int units) { return units * 3 / 2; }
    static int UnitsToPixelsY(int units) { return units * 13 / 8; }

private:
    void Accept();
    std::vector<DialogControl> controls_;
    StartupChoices choices_;
};

// Shows the dialog (or answers it, see the platform back end) and returns 1
// for OK, with what it chose in *choices, or 0 for Exit or close.
class PlatformBackend;
struct StartupAnswers {
    bool answerWithoutShowing = false;
    std::vector<std::pair<std::string, std::string>> settings;  // --set NAME=VALUE
};
int ShowStartupDialog(PlatformBackend* backend, const StartupAnswers& answers, StartupChoices* choices);

// Runs the chosen level's position and map lines and, when a demo was
// chosen, its load line.
void StartLevelAndDemo();
