// How the process's heap treats freed memory.
#pragma once

// Keeps freed blocks of up to 32 MB inside the heap and gives memory back to
// the system only when 256 MB lie free at its top. Loading and drawing free
// and take back blocks of the same few sizes over and over (image levels,
// per-draw buffers inside the rasteriser); without this every such block is a
// fresh mapping whose pages are faulted in and zeroed again each time. Call
// once, before anything large is allocated.
void KeepFreedMemoryInHeap();
