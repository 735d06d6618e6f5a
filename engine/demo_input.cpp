// Demos in the input subsystem's frame. The input subsystem sits below the
// engine and knows nothing of demos; it calls these at the two points where
// demos do their work.
#include "engine/demo.h"
#include "engine/timedemo.h"
#include "input/input_system.h"

namespace {

// Once per frame, after the held keys' commands: the timedemo measures
// around the demo's playback step.
void PlaybackStep() {
    TimedemoBeforePlayback();
    DemoPlaybackStep();
    TimedemoAfterPlayback();
}

struct DemoHookRegistration {
    DemoHookRegistration() { SetInputHooks(InputHooks{CaptureDemoPacket, PlaybackStep}); }
};
DemoHookRegistration s_demoHookRegistration;

}  // namespace
