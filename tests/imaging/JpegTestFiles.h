// JPEG files written by the photo tests with libjpeg's compressor, and hand-written EXIF APP1 blocks to
// put in them.
#pragma once

#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE declared first
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "imaging/WorkingImage.h"

namespace imaging::testing {

struct JpegSettings {
  int quality = 90;
  bool subsampleChroma = true;  // libjpeg's default 2 x 2 chroma; false keeps every chroma sample
  bool progressive = false;     // libjpeg's standard progression
  std::vector<jpeg_scan_info> scanScript;  // when not empty, these scans instead (progressive if they say so)
  std::vector<std::vector<std::uint8_t>> app1Payloads;  // written in this order after the JFIF header
};

inline std::vector<std::uint8_t> EncodeJpeg(const WorkingImage& picture, const JpegSettings& settings = {}) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = picture.Width();
  cinfo.image_height = picture.Height();
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, settings.quality, TRUE);
  if (!settings.subsampleChroma)
    for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  if (settings.progressive) jpeg_simple_progression(&cinfo);
  if (!settings.scanScript.empty()) {
    cinfo.scan_info = settings.scanScript.data();
    cinfo.num_scans = static_cast<int>(settings.scanScript.size());
  }
  jpeg_start_compress(&cinfo, TRUE);
  for (const auto& payload : settings.app1Payloads)
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, payload.data(), static_cast<unsigned>(payload.size()));
  std::vector<JSAMPLE> row(static_cast<std::size_t>(picture.Width()) * 3);
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint32_t p = picture.At(x, y);
      row[3 * x] = static_cast<JSAMPLE>(p >> 16);
      row[3 * x + 1] = static_cast<JSAMPLE>(p >> 8);
      row[3 * x + 2] = static_cast<JSAMPLE>(p);
    }
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&cinfo, &pointer, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<std::uint8_t> file(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return file;
}

// --- EXIF APP1 blocks: "Exif\0\0", a TIFF header and one IFD ----------------------------------------

inline constexpr std::uint16_t kExifOrientationTag = 0x0112;
inline constexpr std::uint16_t kExifAscii = 2;
inline constexpr std::uint16_t kExifShort = 3;
inline constexpr std::uint16_t kExifLong = 4;

struct IfdEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::uint32_t value;  // SHORT values sit in the first two bytes of the field
};

class ExifWriter {
 public:
  explicit ExifWriter(bool bigEndian) : bigEndian_(bigEndian) {}

  std::vector<std::uint8_t> Block(const std::vector<IfdEntry>& entries, std::uint32_t ifdOffset = 8) {
    bytes_ = {'E', 'x', 'i', 'f', 0, 0};
    bytes_.push_back(bigEndian_ ? 'M' : 'I');
    bytes_.push_back(bigEndian_ ? 'M' : 'I');
    Put(42, 2);
    Put(ifdOffset, 4);
    Put(static_cast<std::uint32_t>(entries.size()), 2);
    for (const IfdEntry& e : entries) {
      Put(e.tag, 2);
      Put(e.type, 2);
      Put(e.count, 4);
      if (e.type == kExifShort) {
        Put(e.value, 2);
        Put(0, 2);
      } else {
        Put(e.value, 4);
      }
    }
    Put(0, 4);  // no next IFD
    return bytes_;
  }

 private:
  void Put(std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
      const int shift = bigEndian_ ? 8 * (size - 1 - i) : 8 * i;
      bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  }

  bool bigEndian_;
  std::vector<std::uint8_t> bytes_;
};

// An EXIF block whose IFD0 holds only the orientation tag, as a SHORT.
inline std::vector<std::uint8_t> OrientationBlock(int orientation, bool bigEndian = false) {
  return ExifWriter(bigEndian).Block(
      {{kExifOrientationTag, kExifShort, 1, static_cast<std::uint32_t>(orientation)}});
}

}  // namespace imaging::testing
