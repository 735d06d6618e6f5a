#include "engine/demo.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "base/file_helpers.h"
#include "base/message_output.h"
#include "base/paths.h"
#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "console/command_interpreter.h"
#include "console/console_object.h"
#include "engine/demo_mode.h"
#include "engine/game_system.h"
#include "input/input_system.h"
#include "platform/operating_system.h"
#include "video/text_overlay.h"
#include "engine/world.h"

namespace {

std::unique_ptr<Demo> s_demo;
double s_lastSave = 0.0;
bool s_saved = false;

double Now() { return g_operatingSystem.FrameTime(); }

// Four bytes in reverse order: the file keeps some fields big-endian.
template <typename T>
T Reversed(T value) {
    static_assert(sizeof(T) == 4);
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    std::swap(bytes[0], bytes[3]);
    std::swap(bytes[1], bytes[2]);
    std::memcpy(&value, bytes, 4);
    return value;
}

void Flip(ConsoleObject* variable) { variable->intValue = variable->intValue == 0 ? 1 : 0; }

// Demo files come from anywhere: a position or a set of angles that is not
// finite or lies beyond any world keeps the camera's present one.
constexpr float kFarthestDemoValue = 1.0e6f;

bool Plausible(const float values[3]) {
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(values[i]) || std::fabs(values[i]) > kFarthestDemoValue) return false;
    }
    return true;
}

void PlaceCamera(const float position[3], const float angles[3]) {
    if (Plausible(position)) g_camera.SetPosition(D3DXVECTOR3(position[0], position[1], position[2]));
    if (Plausible(angles)) g_camera.ResetView(-angles[0], angles[1], angles[2]);
}

// A packet with its big-endian fields in file order, or back.
DemoPacket SwapPacket(DemoPacket p) {
    p.dx = Reversed(p.dx);
    p.dy = Reversed(p.dy);
    for (float& v : p.position) v = Reversed(v);
    for (float& v : p.angles) v = Reversed(v);
    p.time = Reversed(p.time);
    return p;
}

void OverlayState(OverlayDemoState* state) {
    state->mode = CurrentDemoMode();
    if (s_demo != nullptr) {
        state->exists = true;
        state->name.assign(s_demo->name, strnlen(s_demo->name, sizeof s_demo->name));
        state->worldPath.assign(s_demo->world, strnlen(s_demo->world, sizeof s_demo->world));
        state->unsavedFlag = s_demo->unsaved;
    }
}

struct OverlayHook {
    OverlayHook() { SetOverlayDemoSource(OverlayState); }
} s_overlayHook;

// The commands say in one line what they did; the operations below them stay
// quiet, since the demo loop and the timedemo run them too.
int32_t RecordCommand(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    const bool wasIdle = CurrentDemoMode() == kDemoIdle;
    RecordDemo();
    if (wasIdle && CurrentDemoMode() == kDemoRecording && s_demo != nullptr) {
        PrintLine("Recording a demo in %s (stop ends it, save writes it)", s_demo->world);
    }
    return s_demo != nullptr ? 1 : 0;
}
int32_t StopCommand(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    const int32_t mode = CurrentDemoMode();
    StopDemo();
    if (mode == kDemoRecording && s_demo != nullptr) {
        PrintLine("Recording stopped: %i packets", static_cast<int32_t>(s_demo->packets.size()));
    } else if (mode == kDemoPlayback) {
        PrintLine("Playback stopped");
    }
    return 1;
}
int32_t PlayCommand(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    PlayDemo();
    return 1;
}
int32_t SaveCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    if (s_demo == nullptr) return 0;
    // From a key there is no argument list: the fixed file, as save alone.
    if (argc > 0 && argv != nullptr) return SaveDemoAs(argv[0].text) ? 1 : 0;
    SaveDemo();
    return 1;
}
int32_t LoadCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    // From a key there is no argument list.
    if (argc < 1 || argv == nullptr) {
        PrintLine("Error: load needs the path of a demo file.");
        return 0;
    }
    // A quoted path may hold spaces.
    LoadDemo(UnquotedArgument(argv[0].text).c_str());
    return 1;
}

ConsoleCommand record("record", RecordCommand);
ConsoleCommand stop("stop", StopCommand);
ConsoleCommand play("play", PlayCommand);
ConsoleCommand load("load", LoadCommand);
ConsoleCommand save("save", SaveCommand);

std::string Lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool EndsWithDem(const std::string& name) {
    return name.size() >= 4 && Lowered(name.substr(name.size() - 4)) == ".dem";
}

// The demo as a file: the lines of a save, and the one that says where it
// went and what it replaced.
void SaveDemoTo(const std::string& path) {
    if (s_demo == nullptr) return;
    const double now = Now();
    // At most once a second; the first save of a run is never held back
    // (the frame clock starts near 0 with the program).
    if (s_saved && !(now - s_lastSave > 1000.0)) {
        PrintLine("Demo not saved to %s: the last save was less than a second ago", path.c_str());
        return;
    }
    s_saved = true;
    s_lastSave = now;
    PrintLine("Saving a demo to disk...Please wait");
    const bool replacing = IsRegularFile(ResolvePath(path.c_str()).c_str());
    MakeFolder("demos");  // a content folder of our own may lack it; a failed write says so
    if (!WriteDemoFile(path.c_str(), s_demo.get())) {
        PrintLine("Error writing demo file %s", path.c_str());
        return;  // still unsaved: the overlay must not say otherwise
    }
    PrintLine("Finished writing demo %s (%i bytes)", s_demo->Name().c_str(),
              static_cast<int32_t>(44 * s_demo->packets.size()));
    if (replacing && IsShippedDemoFile(path.c_str())) {
        PrintLine("Demo saved to %s, over the demo shipped there (the next build puts it back; "
                  "save NAME writes demos\\NAME.dem)",
                  path.c_str());
    } else if (replacing) {
        PrintLine("Demo saved to %s, over the demo that was there", path.c_str());
    } else {
        PrintLine("Demo saved to %s", path.c_str());
    }
    s_demo->unsaved = 0;
}

}  // namespace

std::string NamedDemoFile(const char* name) {
    std::string base = name != nullptr ? name : "";
    if (EndsWithDem(base)) base.resize(base.size() - 4);
    // The file name, folder and extension must fit the demo's 80-byte name.
    constexpr size_t kLongestName = 64;
    if (base.empty() || base.size() > kLongestName || base.front() == '.' || base.back() == '.') return {};
    for (char c : base) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return {};
    }
    return "demos\\" + base + ".dem";
}

bool IsShippedDemoFile(const char* path) {
    if (path == nullptr) return false;
    std::string name = Lowered(path);
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.rfind("./", 0) == 0) name.erase(0, 2);
    return name == "demos/demo001.dem" || name == "demos/demo002.dem" || name == "demos/demo003.dem";
}

void DemoWorldChanged(const char* worldPath) {
    if (s_demo == nullptr || worldPath == nullptr) return;
    const std::string own(s_demo->world, strnlen(s_demo->world, sizeof s_demo->world));
    if (own.empty()) return;  // recorded without a world name: it plays wherever it is
    s_demo->leftItsWorld = !SameWorldFile(own.c_str(), worldPath);
    if (!s_demo->leftItsWorld) return;
    const int32_t mode = CurrentDemoMode();
    if (mode == kDemoIdle) return;
    StopDemo();
    // Keys the playback pressed would otherwise go on flying the camera
    // through the new world until their recorded release, which never comes.
    if (mode == kDemoPlayback) g_inputSystem.ReleaseHeldKeys();
    if (mode == kDemoRecording) {
        PrintLine("Recording stopped: the demo was recorded in %s", own.c_str());
    } else {
        PrintLine("Demo stopped: it was recorded in %s", own.c_str());
    }
}

bool CurrentDemoInItsWorld() { return s_demo != nullptr && !s_demo->leftItsWorld; }

std::string Demo::Name() const { return std::string(name, strnlen(name, sizeof name)); }

Demo* CurrentDemo() { return s_demo.get(); }

void ResetDemoState() {
    s_demo.reset();
    SetDemoMode(kDemoIdle);
    s_lastSave = 0.0;
    s_saved = false;
}

void CaptureDemoPacket(uint8_t code, int32_t pressed, int32_t first, int32_t second) {
    if (CurrentDemoMode() != kDemoRecording || s_demo == nullptr) return;
    DemoPacket packet{};
    packet.pressed = pressed;
    packet.key = code;
    packet.dx = first;
    packet.dy = second;
    const D3DXVECTOR3& position = g_camera.GetPosition();
    const CameraAngles angles = g_camera.GetAngles();
    packet.position[0] = position.x;
    packet.position[1] = position.y;
    packet.position[2] = position.z;
    packet.angles[0] = angles.yaw;
    packet.angles[1] = angles.pitch;
    packet.angles[2] = angles.roll;
    packet.time = static_cast<float>(Now());
    s_demo->packets.push_back(packet);
}

void RecordDemo() {
    if (CurrentDemoMode() != kDemoIdle) return;
    s_demo.reset();
    World* world = g_gameSystem.GetCurrentWorld();
    if (world == nullptr || !world->loaded) {
        PrintLine("You can only record a demo in a valid world.");
        return;
    }
    s_demo = std::make_unique<Demo>();
    SetDemoMode(kDemoRecording);
    const D3DXVECTOR3& position = g_camera.GetPosition();
    const CameraAngles angles = g_camera.GetAngles();
    s_demo->startPosition[0] = position.x;
    s_demo->startPosition[1] = position.y;
    s_demo->startPosition[2] = position.z;
    s_demo->startAngles[0] = angles.yaw;
    s_demo->startAngles[1] = angles.pitch;
    s_demo->startAngles[2] = angles.roll;
    s_demo->invertAtCapture = m_invert.intValue != 0 ? 1 : 0;
    s_demo->captureStart = static_cast<float>(Now());
    if (world->Name() != nullptr) std::strncpy(s_demo->world, world->Name(), sizeof s_demo->world - 1);
    s_demo->unsaved = 1;
}

void StopDemo() {
    if (CurrentDemoMode() == kDemoIdle) return;
    SetDemoMode(kDemoIdle);
    if (s_demo == nullptr) return;
    s_demo->played = 0;
    if (s_demo->invertToggled) Flip(&m_invert);
    s_demo->invertToggled = 0;
}

void PlayDemo() {
    if (s_demo == nullptr || CurrentDemoMode() != kDemoIdle || s_demo->packets.empty()) return;
    SetDemoMode(kDemoPlayback);
    PrintLine("Playing back demo of size %i bytes", static_cast<int32_t>(44 * s_demo->packets.size()));
    PlaceCamera(s_demo->startPosition, s_demo->startAngles);
    s_demo->playbackStart = static_cast<float>(Now());
    s_demo->played = 0;
    s_demo->current = 0;
    const int32_t invert = m_invert.intValue != 0 ? 1 : 0;
    if (s_demo->invertAtCapture == invert) {
        s_demo->invertToggled = 0;
    } else {
        s_demo->invertToggled = 1;
        Flip(&m_invert);
    }
}

void DemoPlaybackStep() {
    if (CurrentDemoMode() != kDemoPlayback || s_demo == nullptr) return;
    const double now = Now();
    while (s_demo != nullptr && s_demo->current < s_demo->packets.size()) {
        const DemoPacket packet = s_demo->packets[s_demo->current];
        const double due = static_cast<double>(packet.time) - static_cast<double>(s_demo->captureStart) +
                           static_cast<double>(s_demo->playbackStart);
        if (now < due) return;
        PlaceCamera(packet.position, packet.angles);
        ++s_demo->played;
        ++s_demo->current;
        g_inputSystem.KeyEvent(static_cast<uint8_t>(packet.key & 0xFF), packet.pressed, packet.dx, packet.dy, 0);
    }
    if (s_demo == nullptr || CurrentDemoMode() != kDemoPlayback) return;
    PrintLine("Demo finished.");
    // As stop, but the played count stays at the packet count.
    SetDemoMode(kDemoIdle);
    if (s_demo->invertToggled) Flip(&m_invert);
    s_demo->invertToggled = 0;
}

void SaveDemo() { SaveDemoTo(kDefaultDemoFile); }

bool SaveDemoAs(const char* name) {
    const std::string file = NamedDemoFile(UnquotedArgument(name).c_str());
    if (file.empty()) {
        PrintLine("Error: save NAME takes a plain name (letters, digits, \"-\", \"_\") and writes demos\\NAME.dem");
        return false;
    }
    SaveDemoTo(file);
    return true;
}

bool LoadDemo(const char* path) {
    if (CurrentDemoMode() != kDemoIdle) return false;
    s_demo.reset();
    PrintLine("Loading a demo from disk...");
    s_demo = std::make_unique<Demo>();
    if (!ReadDemoFile(path, s_demo.get())) {
        PrintLine("Error reading demo.");
        return false;
    }
    s_demo->unsaved = 0;
    return true;
}

bool WriteDemoFile(const char* path, Demo* demo) {
    PrintLine("Writing demo %s", path);
    std::memset(demo->name, 0, sizeof demo->name);
    std::memcpy(demo->name, path, strnlen(path, sizeof demo->name));

    const uint32_t count = static_cast<uint32_t>(demo->packets.size());
    MemoryFile file;
    file.Allocate(kDemoHeaderSize + 44ull * count);
    auto put = [&file](const void* data, uint64_t size) { return file.Write(data, size) != 0; };
    float position[3], angles[3];
    for (int i = 0; i < 3; ++i) {
        position[i] = Reversed(demo->startPosition[i]);
        angles[i] = Reversed(demo->startAngles[i]);
    }
    const float capture = Reversed(demo->captureStart);
    const uint32_t countBe = Reversed(count);
    if (!put(demo->name, 80)) {
        PrintLine("Error writing demo name %s", demo->Name().c_str());
        return false;
    }
    if (!put(demo->world, 260)) {
        PrintLine("Error writing demo map name");
        return false;
    }
    if (!put(position, 12)) {
        PrintLine("Error writing demo start position");
        return false;
    }
    if (!put(angles, 12)) {
        PrintLine("Error writing demo start angles");
        return false;
    }
    if (!put(&capture, 4)) {
        PrintLine("Error writing demo capture time");
        return false;
    }
    if (!put(&demo->invertAtCapture, 4)) {
        PrintLine("Error writing demo config info");
        return false;
    }
    if (!put(&countBe, 4)) {
        PrintLine("Error writing demo queue size");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const DemoPacket packet = SwapPacket(demo->packets[i]);
        if (!put(&packet, sizeof packet)) {
            PrintLine("Error writing demo packet %i", static_cast<int32_t>(i));
            return false;
        }
    }
    if (file.SaveToFile(path) == 0) {
        PrintLine("Error opening demo file for write");
        return false;
    }
    return true;
}

bool ReadDemoFile(const char* path, Demo* demo) {
    if (demo == nullptr) {
        PrintLine("Error: No demo object allocated. Giving up.");
        return false;
    }
    PrintLine("Reading demo %s", path);
    MemoryFile file;
    if (file.LoadFromFile(path) == 0) {
        PrintLine("Error trying to read file %s", path);
        return false;
    }
    auto get = [&file](void* data, uint64_t size) { return file.Read(data, size) != 0; };
    float position[3] = {}, angles[3] = {};
    float capture = 0.0f;
    uint32_t count = 0;
    if (!get(demo->name, 80)) {
        PrintLine("Error parsing demo name from demo file.");
        return false;
    }
    if (!get(demo->world, 260)) {
        PrintLine("Error parsing demo map name from demo file.");
        return false;
    }
    demo->world[sizeof demo->world - 1] = '\0';
    if (!get(position, 12)) {
        PrintLine("Error parsing demo start position from demo file.");
        return false;
    }
    if (!get(angles, 12)) {
        PrintLine("Error parsing demo start angles from demo file.");
        return false;
    }
    if (!get(&capture, 4)) {
        PrintLine("Error parsing demo start time from demo file.");
        return false;
    }
    if (!get(&demo->invertAtCapture, 4)) {
        PrintLine("Error parsing demo config from demo file.");
        return false;
    }
    if (!get(&count, 4)) {
        PrintLine("Error parsing demo queue size from demo file.");
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        demo->startPosition[i] = Reversed(position[i]);
        demo->startAngles[i] = Reversed(angles[i]);
    }
    demo->captureStart = Reversed(capture);
    count = Reversed(count);
    // The count comes from the file: never reserve more than it can hold.
    const uint64_t available = (file.Size() - file.Position()) / 44 + 1;
    demo->packets.reserve(static_cast<size_t>(std::min<uint64_t>(count, available)));
    for (uint32_t i = 0; i < count; ++i) {
        DemoPacket packet{};
        if (!get(&packet, sizeof packet)) {
            PrintLine("Error parsing demo packet %i from demo file.", static_cast<int32_t>(i));
            return false;
        }
        demo->packets.push_back(SwapPacket(packet));
    }
    PrintLine("This demo was recorded on world %s", demo->world);
    return true;
}

bool SameWorldFile(const char* a, const char* b) {
    return Lowered(ResolvePath(a)) == Lowered(ResolvePath(b));
}
