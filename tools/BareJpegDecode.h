// The baseline of the imaging benchmarks: a bare full-scale libjpeg decode of a file's bytes, with the
// settings the normalization decodes with (accurate integer DCT, smooth upsampling, block smoothing), RGB
// out into one buffer and nothing else.
#pragma once

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace benchsupport {

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fclose(f);
  }
  return bytes;
}

struct JumpOnError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] inline void Jump(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JumpOnError*>(cinfo->err)->jump, 1);
}

// The file's bytes (already in memory) decoded at full scale into `pixels`. False when libjpeg fails.
inline bool BareDecode(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& pixels, int& width,
                       int& height) {
  jpeg_decompress_struct cinfo{};
  JumpOnError errors{};
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = Jump;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = TRUE;
  cinfo.do_block_smoothing = TRUE;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  width = static_cast<int>(cinfo.output_width);
  height = static_cast<int>(cinfo.output_height);
  const std::size_t stride = static_cast<std::size_t>(width) * cinfo.output_components;
  pixels.resize(stride * height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[16];
    for (int i = 0; i < 16; ++i)
      rows[i] = pixels.data() + stride * std::min<std::size_t>(cinfo.output_scanline + i, height - 1);
    jpeg_read_scanlines(&cinfo, rows, 16);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace benchsupport
