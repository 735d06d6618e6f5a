// The single-instance guard: an advisory lock on a file named after the
// product in the user's runtime folder. The kernel drops the lock when the
// process ends, however it ends, so a crash never locks the user out.
#pragma once

#include <string>

class InstanceLock {
public:
    enum class Result { kAcquired, kHeldElsewhere, kFailed };

    InstanceLock() = default;
    ~InstanceLock() { Release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Result Acquire(const std::string& name);
    void Release();
    bool Held() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // "<runtime folder>/<name>.lock": $XDG_RUNTIME_DIR, else /tmp.
    static std::string PathFor(const std::string& name);

private:
    int fd_ = -1;
    std::string path_;
};

// The instance name: "Project Osprel 2.0", unless OSPREL_INSTANCE_NAME names
// another (test suites run several engines side by side that way).
std::string InstanceName();
