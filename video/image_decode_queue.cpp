#include "video/image_decode_queue.h"

#include <algorithm>
#include <system_error>
#include <utility>

ImageDecodeQueue::ImageDecodeQueue(UINT maxSide, int workers) : maxSide_(maxSide) {
    for (int i = 0; i < workers; ++i) {
        try {
            workers_.emplace_back(&ImageDecodeQueue::Work, this);
        } catch (const std::system_error&) {
            break;  // the threads started so far do the work; with none, Take does
        }
    }
}

ImageDecodeQueue::~ImageDecodeQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (const Job& job : jobs_) std::fclose(job.file);
        jobs_.clear();
    }
    jobReady_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

int ImageDecodeQueue::DefaultWorkers() {
    // One per core: the caller's own share (reading, uploading) leaves its
    // core idle while it waits for an image, so this is not too many.
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

void ImageDecodeQueue::Submit(size_t key, std::FILE* file) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[key] = Result{};
        jobs_.push_back(Job{key, file});
    }
    jobReady_.notify_one();
}

HRESULT ImageDecodeQueue::Take(size_t key, D3DXDecodedImage* image) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto found = results_.find(key);
    if (found == results_.end() || image == nullptr) return D3DERR_INVALIDCALL;
    if (workers_.empty()) {
        // No threads: decode the job here, in the order asked for.
        auto job = std::find_if(jobs_.begin(), jobs_.end(), [key](const Job& j) { return j.key == key; });
        if (job != jobs_.end()) {
            std::FILE* file = job->file;
            jobs_.erase(job);
            lock.unlock();
            const HRESULT outcome = D3DXDecodeImageFile(file, maxSide_, image);
            lock.lock();
            results_.erase(key);
            return outcome;
        }
    }
    resultReady_.wait(lock, [&] { return found->second.done; });
    const HRESULT outcome = found->second.outcome;
    *image = std::move(found->second.image);
    results_.erase(found);
    return outcome;
}

void ImageDecodeQueue::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        jobReady_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        D3DXDecodedImage image;
        const HRESULT outcome = D3DXDecodeImageFile(job.file, maxSide_, &image);
        lock.lock();
        Result& result = results_[job.key];
        result.done = true;
        result.outcome = outcome;
        result.image = std::move(image);
        resultReady_.notify_all();
    }
}
