// The frame clock's time source, in milliseconds. The real one follows the
// system's monotonic clock; the fixed-step one advances by a set amount each
// engine frame so that runs repeat exactly.
#pragma once

#include <chrono>

class TimeSource {
public:
    virtual ~TimeSource() = default;
    // Milliseconds since an arbitrary start.
    virtual double Now() = 0;
    // Called once at the start of every engine frame's clock update.
    virtual void AdvanceFrame() {}
};

class SteadyTimeSource : public TimeSource {
public:
    double Now() override {
        const auto elapsed = std::chrono::steady_clock::now() - start_;
        return std::chrono::duration<double, std::milli>(elapsed).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class FixedStepTimeSource : public TimeSource {
public:
    explicit FixedStepTimeSource(double stepMs) : step_(stepMs) {}
    double Now() override { return now_; }
    void AdvanceFrame() override { now_ += step_; }

private:
    double step_;
    double now_ = 0.0;
};
