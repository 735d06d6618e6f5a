// Image files read and decoded on worker threads while the caller opens the
// next files and uploads the finished ones: loading a world's textures keeps every core
// busy instead of decoding one image after another.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "video/d3d9/d3dx9.h"

class ImageDecodeQueue {
public:
    // maxSide: the largest side a decoded image may have. workers: threads to
    // start; with none (or none that could be started) Take decodes itself.
    ImageDecodeQueue(UINT maxSide, int workers);
    ~ImageDecodeQueue();
    ImageDecodeQueue(const ImageDecodeQueue&) = delete;
    ImageDecodeQueue& operator=(const ImageDecodeQueue&) = delete;

    // The worker count for this machine.
    static int DefaultWorkers();

    // Queues an open image file for reading and decoding under a key not yet
    // in use; the queue closes it.
    void Submit(size_t key, std::FILE* file);
    // Waits for the image submitted under key and hands it over; the key is
    // free again afterwards. D3DERR_INVALIDCALL for a key never submitted.
    HRESULT Take(size_t key, D3DXDecodedImage* image);

private:
    struct Job {
        size_t key;
        std::FILE* file;
    };
    struct Result {
        bool done = false;
        HRESULT outcome = E_FAIL;
        D3DXDecodedImage image;
    };
    void Work();

    const UINT maxSide_;
    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable resultReady_;
    std::deque<Job> jobs_;
    std::map<size_t, Result> results_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
