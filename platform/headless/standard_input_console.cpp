#include "platform/headless/standard_input_console.h"

#include <poll.h>
#include <unistd.h>

#include "console/command_interpreter.h"

int StandardInputConsole::Pump() {
    int queued = 0;
    while (!atEnd_) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP)) == 0) break;
        char block[512];
        const ssize_t got = ::read(fd_, block, sizeof block);
        if (got <= 0) {
            atEnd_ = true;  // end of input (or an error): stop listening
            break;
        }
        partial_.append(block, static_cast<size_t>(got));
        size_t end;
        while ((end = partial_.find('\n')) != std::string::npos) {
            std::string line = partial_.substr(0, end);
            partial_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;  // an empty line does nothing
            QueueTypedLine(line.c_str());
            ++queued;
        }
    }
    // A last line without a line end still counts once input has ended.
    if (atEnd_ && !partial_.empty()) {
        QueueTypedLine(partial_.c_str());
        partial_.clear();
        ++queued;
    }
    return queued;
}
