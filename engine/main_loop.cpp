#include "engine/main_loop.h"

#include "engine/subsystem.h"
#include "platform/message_output.h"

int32_t FrameDriver::Step() {
    ++count_;
    return engine_->frame();
}

bool FrameDriver::ShutDown() const { return engine_->running == 0; }

int RunInteractiveLoop(FrameDriver* frames) {
    while (!frames->Exhausted()) {
        if (frames->Step() != 0) break;
    }
    return 0;
}

int RunWhile(FrameDriver* frames, bool (*running)()) {
    while (running() && !frames->Exhausted()) {
        if (frames->Step() != 0) break;
    }
    return 0;
}

int RunDemoLoop(FrameDriver* frames, DemoLoopPlayer* demo) {
    if (frames->Exhausted()) return 0;
    frames->Step();
    for (;;) {
        demo->Play();
        int64_t played = 0;
        while (demo->Playing()) {
            if (frames->Exhausted()) return 0;
            if (frames->Step() != 0) {
                // quit ends the demo as it ends any run; only a subsystem
                // that stopped by itself is worth reporting.
                if (!frames->ShutDown()) PrintLine("Error during osprel frame");
                return 0;
            }
            ++played;
        }
        demo->Stop();
        // A demo that cannot play would spin here without a single frame.
        if (played == 0) return RunInteractiveLoop(frames);
    }
}
