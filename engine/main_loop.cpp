#include "engine/main_loop.h"

#include "base/message_output.h"
#include "base/subsystem.h"

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
        // Another world was loaded (by a line given at start-up, or typed
        // while the demo played): the demo of the old one does not come back.
        if (!demo->InItsWorld()) return RunInteractiveLoop(frames);
        demo->Play();
        int64_t played = 0;
        while (demo->Playing()) {
            if (frames->Exhausted()) return 0;
            if (frames->Step() != 0) {
                // The loop reports every end this way; after quit the
                // second line tells the user that nothing went wrong.
                PrintLine("Error during osprel frame");
                if (frames->ShutDown()) PrintLine("The demo loop ended because quit was asked for; nothing failed.");
                return 0;
            }
            ++played;
        }
        demo->Stop();
        // A demo that cannot play would spin here without a single frame.
        if (played == 0) return RunInteractiveLoop(frames);
    }
}
