// The debug console of a run without a display: lines read from standard
// input are queued for the interpreter as typed lines (each is echoed as
// "] line" when it runs). Never blocks the frame.
#pragma once

#include <string>

class StandardInputConsole {
public:
    explicit StandardInputConsole(int fd = 0) : fd_(fd) {}

    // Queues every complete line that has arrived; returns how many.
    int Pump();
    bool AtEnd() const { return atEnd_; }

private:
    int fd_;
    bool atEnd_ = false;
    std::string partial_;
};
