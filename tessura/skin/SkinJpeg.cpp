#include "SkinJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace tessura {
namespace {

// Progressive files may carry any number of scans, each a full pass over the image; real
// skins have a handful, and a file with thousands only burns time.
constexpr int kMaxScans = 256;

// libjpeg's default error_exit ends the process. This one returns to the decode function
// instead, keeping the message for the report.
struct RecoverableError {
    jpeg_error_mgr mgr;
    std::jmp_buf resume;
    int code;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void skinJpegErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<RecoverableError*>(info->err);
    err->code = err->mgr.msg_code;
    err->mgr.format_message(info, err->message);
    std::longjmp(err->resume, 1);
}

// Warnings (damaged but decodable data) are neither printed nor fatal.
extern "C" void skinJpegOutputMessage(j_common_ptr) {}

void fail(j_common_ptr info, int code) {
    info->err->msg_code = code;
    info->err->error_exit(info);
}

extern "C" void skinJpegProgress(j_common_ptr info) {
    auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->input_scan_number > kMaxScans) fail(info, JERR_NOTIMPL);
}

struct Pixels {
    unsigned char* rgb;
    int width, height;
};

// Plain C-style on purpose: nothing with a destructor lives in this frame, so the longjmp
// from the error handler skips no cleanup. Returns 0, or the decoder's message code.
int decodeJpeg(const unsigned char* data, unsigned long size, Pixels* out, RecoverableError* err) {
    jpeg_decompress_struct info;
    jpeg_progress_mgr progress;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&err->mgr);
    err->mgr.error_exit = skinJpegErrorExit;
    err->mgr.output_message = skinJpegOutputMessage;
    err->code = 0;
    err->message[0] = '\0';
    out->rgb = nullptr;
    if (setjmp(err->resume)) {
        jpeg_destroy_decompress(&info);
        std::free(out->rgb);
        out->rgb = nullptr;
        return err->code ? err->code : -1;
    }
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = 256L << 20;
    progress.progress_monitor = skinJpegProgress;
    info.progress = &progress;
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    if (info.image_width == 0 || info.image_height == 0 || info.image_width > kMaxSkinImageSide ||
        info.image_height > kMaxSkinImageSide ||
        std::uint64_t(info.image_width) * info.image_height > kMaxSkinImagePixels)
        fail(reinterpret_cast<j_common_ptr>(&info), JERR_IMAGE_TOO_BIG);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3) fail(reinterpret_cast<j_common_ptr>(&info), JERR_CONVERSION_NOTIMPL);
    const std::size_t stride = std::size_t(info.output_width) * 3;
    out->width = int(info.output_width);
    out->height = int(info.output_height);
    out->rgb = static_cast<unsigned char*>(std::malloc(stride * info.output_height));
    if (!out->rgb) fail(reinterpret_cast<j_common_ptr>(&info), JERR_OUT_OF_MEMORY);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->rgb + std::size_t(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return 0;
}

}  // namespace

SkinJpegResult DecodeSkinJpeg(const std::uint8_t* data, std::size_t size) {
    SkinJpegResult result;
    RecoverableError err;
    std::memset(&err, 0, sizeof err);
    Pixels pixels{};
    if (size == 0 || decodeJpeg(data, static_cast<unsigned long>(size), &pixels, &err) != 0) {
        result.errorKey = err.code == JERR_OUT_OF_MEMORY && size ? "errors/jpegoutofmemory"
                                                                 : "errors/jpegfatalerror";
        result.detail = size ? err.message : "empty image";
        return result;
    }
    SkinImage image;
    image.width = pixels.width;
    image.height = pixels.height;
    image.rgb.assign(pixels.rgb, pixels.rgb + std::size_t(pixels.width) * pixels.height * 3);
    std::free(pixels.rgb);
    result.image = std::move(image);
    return result;
}

}  // namespace tessura
