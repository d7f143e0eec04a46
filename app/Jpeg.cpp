#include "app/Jpeg.h"

#include <csetjmp>
#include <climits>
#include <cstdio>
#include <new>
#include <utility>

#include <jpeglib.h>

namespace quillet {
namespace {

// libjpeg's default error exit ends the process; ours jumps back to the decoder.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }

// Level -1 is a warning about damaged data (libjpeg would go on with made-up pixels);
// higher levels are trace messages.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ErrorExit(cinfo);
}

// Everything the jump may cross lives here, outside the frame that calls setjmp, so no
// local of that frame changes between setjmp and longjmp.
struct Decoder {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  JpegPicture picture;
};

// Returns false (after a longjmp) on any libjpeg error or warning. No object with a
// destructor is created in this frame or in the frames the jump leaves.
bool Run(Decoder& d, const unsigned char* data, unsigned long size) {
  d.cinfo.err = jpeg_std_error(&d.err.base);
  d.err.base.error_exit = ErrorExit;
  d.err.base.emit_message = EmitMessage;
  if (setjmp(d.err.jump)) return false;
  jpeg_create_decompress(&d.cinfo);
  jpeg_mem_src(&d.cinfo, data, size);
  jpeg_read_header(&d.cinfo, TRUE);
  d.cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_calc_output_dimensions(&d.cinfo);
  const long long pixels = static_cast<long long>(d.cinfo.output_width) * d.cinfo.output_height;
  if (pixels == 0 || pixels > kMaxJpegPixels) return false;
  const int width = static_cast<int>(d.cinfo.output_width);
  const int height = static_cast<int>(d.cinfo.output_height);
  const int stride = JpegPicture::Stride(width);
  // Sized before decoding starts: nothing below allocates.
  try {
    d.picture.bits.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  d.picture.width = width;
  d.picture.height = height;
  jpeg_start_decompress(&d.cinfo);
  while (d.cinfo.output_scanline < d.cinfo.output_height) {
    const int row = height - 1 - static_cast<int>(d.cinfo.output_scanline);
    JSAMPROW target = d.picture.bits.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(stride);
    jpeg_read_scanlines(&d.cinfo, &target, 1);
  }
  jpeg_finish_decompress(&d.cinfo);
  return true;
}

}  // namespace

JpegPicture DecodeJpeg(const void* data, std::size_t size) {
  if (!data || size == 0 || size > ULONG_MAX) return {};
  Decoder d{};
  const bool ok = Run(d, static_cast<const unsigned char*>(data), static_cast<unsigned long>(size));
  // Safe also when creation itself failed: the struct started zeroed.
  jpeg_destroy_decompress(&d.cinfo);
  if (!ok) return {};
  return std::move(d.picture);
}

}  // namespace quillet
