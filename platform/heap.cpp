#include "platform/heap.h"

#include <malloc.h>

void KeepFreedMemoryInHeap() {
    // Both thresholds together: a fixed mmap threshold alone moves the blocks
    // into the heap, but the heap is then trimmed after each free and the
    // pages are faulted in again just the same.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}
