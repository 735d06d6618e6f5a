#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string InstanceLock::PathFor(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = (runtime != nullptr && *runtime != '\0' && ::access(runtime, W_OK) == 0)
                             ? runtime
                             : "/tmp";
    std::string file = name;
    for (char& c : file) {
        if (c == '/') c = '_';
    }
    return folder + "/" + file + ".lock";
}

InstanceLock::Result InstanceLock::Acquire(const std::string& name) {
    Release();
    path_ = PathFor(name);
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Result::kFailed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Result::kHeldElsewhere : Result::kFailed;
    }
    fd_ = fd;
    return Result::kAcquired;
}

void InstanceLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing drops the lock; the file itself may stay
        fd_ = -1;
    }
}

std::string InstanceName() {
    const char* name = std::getenv("OSPREL_INSTANCE_NAME");
    return (name != nullptr && *name != '\0') ? name : "Project Osprel 2.0";
}
