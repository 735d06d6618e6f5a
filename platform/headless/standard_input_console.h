// The debug console of a run without a display: lines read from standard
// input are queued for the interpreter as typed lines (each is echoed as
// "] line" when it runs). Never blocks the frame.
#pragma once

#include <cstddef>
#include <string>

class StandardInputConsole {
public:
    explicit StandardInputConsole(int fd = 0) : fd_(fd) {}

    // The longest line taken: the rest of a longer one is dropped, with one
    // line saying so.
    static constexpr size_t kMaxLineBytes = 64 * 1024;

    // Queues every complete line that has arrived; returns how many.
    int Pump();
    bool AtEnd() const { return atEnd_; }

private:
    int fd_;
    bool atEnd_ = false;
    std::string partial_;
    bool dropping_ = false;  // inside a line that was too long
};
