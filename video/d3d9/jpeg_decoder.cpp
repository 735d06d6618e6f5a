#include "video/d3d9/jpeg_decoder.h"

#include "video/d3d9/jpeg_errors.h"

bool LooksLikeJpeg(const uint8_t* data, size_t size) {
    return data != nullptr && size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool DecodeJpeg(const uint8_t* data, size_t size, uint32_t maxSide, uint64_t maxPixels, std::vector<uint8_t>* rgba,
                int* width, int* height, PixelOrder order) {
    if (!LooksLikeJpeg(data, size) || size > 0xFFFFFFFFu) return false;
    jpeg_decompress_struct info{};
    JpegErrorManager errors{};
    info.err = UseJpegErrors(&errors);
    // Everything the jump may skip over lives outside this frame's locals
    // that change after setjmp.
    if (setjmp(errors.escape) != 0) {
        jpeg_destroy_decompress(&info);
        rgba->clear();
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const uint64_t pixels = static_cast<uint64_t>(info.image_width) * info.image_height;
    if (info.image_width == 0 || info.image_height == 0 || info.image_width > maxSide ||
        info.image_height > maxSide || pixels > maxPixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = order == PixelOrder::kBgra ? JCS_EXT_BGRA : JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    if (info.output_components != 4) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    rgba->resize(static_cast<size_t>(pixels) * 4);
    const size_t stride = static_cast<size_t>(info.output_width) * 4;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = rgba->data() + static_cast<size_t>(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    *width = static_cast<int>(info.output_width);
    *height = static_cast<int>(info.output_height);
    jpeg_destroy_decompress(&info);
    return true;
}
