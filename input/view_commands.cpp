// Commands meant for keys that step or flip display settings. Because a
// held key runs its command every frame, the stepping and flipping ones act
// at most once a second each; the size commands act every frame.
#include <cstdint>

#include "base/message_output.h"
#include "console/console_object.h"
#include "platform/operating_system.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

// One command's time of last action. A command that never acted acts at
// once: the frame clock starts near 0 with the program, and the first press
// must not wait a second.
struct RateLimit {
    double last = 0.0;
    bool acted = false;

    bool Ready() {
        const double now = g_operatingSystem.FrameTime();
        // A clock that went back (a new frame clock) does not hold the
        // command back.
        if (acted && now >= last && !(now - last > 1000.0)) return false;
        acted = true;
        last = now;
        return true;
    }
};

RateLimit s_invert, s_incEffect, s_decEffect, s_fillUp, s_fillDown, s_noclip, s_sort;

void Flip(ConsoleObject* variable) {
    if (variable != nullptr) variable->intValue = variable->intValue == 0 ? 1 : 0;
}

int32_t Invert(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    if (s_invert.Ready()) Flip(FindConsoleObject("m_invert"));
    return 1;
}

int32_t IncEffect(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    if (s_incEffect.Ready()) vid_effectmode.intValue = (vid_effectmode.intValue + 1) % 5;
    return 1;
}

int32_t DecEffect(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    if (s_decEffect.Ready()) vid_effectmode.intValue = (vid_effectmode.intValue + 4) % 5;
    return 1;
}

int32_t FillUp(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    if (s_fillUp.Ready()) Flip(&r_wireframe);
    return 1;
}

int32_t FillDown(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    if (s_fillDown.Ready()) Flip(&r_wireframe);
    return 1;
}

int32_t NoClip(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    if (s_noclip.Ready()) Flip(&bsp_noclip);
    return 1;
}

int32_t ToggleSort(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    if (s_sort.Ready()) {
        PrintLine("Toggling sort mode!");
        bsp_sort.intValue = (bsp_sort.intValue + 1) % 3;
    }
    return 1;
}

// Grows a size by 20 each way, held below the window's size (compared as
// unsigned, so a negative size counts as huge).
void Grow(ConsoleObject* width, ConsoleObject* height) {
    width->intValue += 20;
    height->intValue += 20;
    const uint32_t windowWidth = static_cast<uint32_t>(g_operatingSystem.WindowWidth());
    const uint32_t windowHeight = static_cast<uint32_t>(g_operatingSystem.WindowHeight());
    if (static_cast<uint32_t>(width->intValue) > windowWidth) width->intValue = static_cast<int32_t>(windowWidth) - 1;
    if (static_cast<uint32_t>(height->intValue) > windowHeight) height->intValue = static_cast<int32_t>(windowHeight) - 1;
}

void Shrink(ConsoleObject* width, ConsoleObject* height) {
    width->intValue -= 20;
    height->intValue -= 20;
    if (width->intValue < 1) width->intValue = 1;
    if (height->intValue < 1) height->intValue = 1;
}

int32_t IncDrawLevel(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Grow(&vid_viewport_width, &vid_viewport_height);
    return 1;
}

int32_t DecDrawLevel(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Shrink(&vid_viewport_width, &vid_viewport_height);
    return 1;
}

int32_t IncScissorLevel(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Grow(&vid_scissor_width, &vid_scissor_height);
    return 1;
}

int32_t DecScissorLevel(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Shrink(&vid_scissor_width, &vid_scissor_height);
    return 1;
}

ConsoleCommand v_noclip("v_noclip", NoClip);
ConsoleCommand v_invert("v_invert", Invert);
ConsoleCommand v_incEffect("v_incEffect", IncEffect);
ConsoleCommand v_decEffect("v_decEffect", DecEffect);
ConsoleCommand v_incDrawLevel("v_incDrawLevel", IncDrawLevel);
ConsoleCommand v_decDrawLevel("v_decDrawLevel", DecDrawLevel);
ConsoleCommand v_incScissorLevel("v_incScissorLevel", IncScissorLevel);
ConsoleCommand v_decScissorLevel("v_decScissorLevel", DecScissorLevel);
ConsoleCommand v_toggleSort("v_toggleSort", ToggleSort);
ConsoleCommand fillmodeUp("fillmode++", FillUp);
ConsoleCommand fillmodeDown("fillmode--", FillDown);

}  // namespace
