#include "video/d3d9/jpeg_encoder.h"

#include <cstdlib>

#include "video/d3d9/jpeg_errors.h"

bool EncodeJpeg(const uint8_t* rgba, int width, int height, int quality, std::vector<uint8_t>* jpeg) {
    jpeg->clear();
    if (rgba == nullptr || width <= 0 || height <= 0 || quality < 1 || quality > 100) return false;
    jpeg_compress_struct info{};
    JpegErrorManager errors{};
    info.err = UseJpegErrors(&errors);
    // libjpeg grows this buffer itself; it is ours to free whether the
    // encode ends or jumps back. It is made before the jump point and only
    // written through its address afterwards, so the jump keeps it.
    struct Output {
        unsigned char* bytes = nullptr;
        unsigned long size = 0;
        ~Output() { std::free(bytes); }
    } output;
    if (setjmp(errors.escape) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &output.bytes, &output.size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t stride = static_cast<size_t>(width) * 4;
    while (info.next_scanline < info.image_height) {
        // libjpeg takes rows as writable pointers but only reads them.
        JSAMPROW row = const_cast<uint8_t*>(rgba) + static_cast<size_t>(info.next_scanline) * stride;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    jpeg->assign(output.bytes, output.bytes + output.size);
    return true;
}
