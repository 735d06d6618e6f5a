// How both JPEG directions take libjpeg's errors: its handler must not
// return, so it jumps back to the coder, which then fails; its warnings about
// damaged data stay quiet.
#pragma once

// jpeglib.h needs FILE declared before it.
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};

[[noreturn]] inline void JpegErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrorManager*>(info->err);
    std::longjmp(errors->escape, 1);
}

inline void JpegQuietMessage(j_common_ptr) {}

// Fills *errors with the handlers; the result is what the coder's err takes.
inline jpeg_error_mgr* UseJpegErrors(JpegErrorManager* errors) {
    jpeg_error_mgr* base = jpeg_std_error(&errors->base);
    errors->base.error_exit = JpegErrorExit;
    errors->base.output_message = JpegQuietMessage;
    return base;
}
