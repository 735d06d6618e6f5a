#include "platform/headless/standard_input_console.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "base/message_output.h"
#include "console/command_interpreter.h"

int StandardInputConsole::Pump() {
    int queued = 0;
    // A writer faster than the frame must not hold the frame: at most this
    // much is taken per call, the rest waits for the next frame.
    size_t budget = 16 * kMaxLineBytes;
    while (!atEnd_ && budget > 0) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP)) == 0) break;
        char block[4096];
        const ssize_t got = ::read(fd_, block, sizeof block);
        if (got <= 0) {
            atEnd_ = true;  // end of input (or an error): stop listening
            break;
        }
        budget -= std::min(budget, static_cast<size_t>(got));
        for (ssize_t i = 0; i < got; ++i) {
            const char c = block[i];
            if (c == '\n') {
                if (!dropping_) {
                    if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
                    if (!partial_.empty()) {  // an empty line does nothing
                        QueueTypedLine(partial_.c_str());
                        ++queued;
                    }
                }
                partial_.clear();
                dropping_ = false;
            } else if (!dropping_) {
                if (partial_.size() >= kMaxLineBytes) {
                    PrintLine("Warning: a line of standard input is longer than %zu KB; the rest of it is dropped",
                              kMaxLineBytes / 1024);
                    partial_.clear();
                    dropping_ = true;
                } else {
                    partial_ += c;
                }
            }
        }
    }
    // A last line without a line end still counts once input has ended.
    if (atEnd_ && !partial_.empty() && !dropping_) {
        QueueTypedLine(partial_.c_str());
        ++queued;
    }
    if (atEnd_) partial_.clear();
    return queued;
}
