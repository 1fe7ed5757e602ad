#include "imaging/JpegDecoder.h"

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <new>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h: the message codes depend on its configuration.
#include <jerror.h>

#include "imaging/Decoders.h"
#include "imaging/ExifOrientation.h"

namespace imaging {
namespace {

constexpr int kGrayLevels = 236;
// Rows asked from libjpeg per call where its samples need converting (gray, CMYK): one iMCU row of 4:2:0
// data, enough to keep the per-call overhead out of the profile without holding much.
constexpr int kRowsPerBatch = 16;
// Real progressive files have a few dozen scans at most; a file with thousands of tiny scans makes
// libjpeg pass over every block for each of them, which is how such files are used to stall decoders.
constexpr int kMaxScans = 500;
constexpr int kApp1 = JPEG_APP0 + 1;
constexpr unsigned kMaxSavedApp1 = 0xFFFF;
constexpr long kMaxJpegMemory = 512L * 1024 * 1024;

// Which warnings mean that the picture is not whole. libjpeg reports the following as warnings and goes
// on, but each means pixels were invented rather than decoded:
//   JWRN_JPEG_EOF        the data ended early (also when only EOI is missing); the rest is gray padding.
//   JWRN_HIT_MARKER      a marker interrupted the entropy data of a scan; the rest of the scan is lost.
//   JWRN_MUST_RESYNC     a restart marker is missing or out of order; the MCUs in between are lost.
//   JWRN_HUFF_BAD_CODE   an invalid Huffman code; the coefficients from there on are garbage or zero.
//   JWRN_ARITH_BAD_CODE  the same for arithmetic-coded data.
// The others leave every pixel decoded from the file's own data and do not fail:
//   JWRN_EXTRANEOUS_DATA  stray bytes between segments (many camera files carry padding there);
//   JWRN_ADOBE_XFORM, JWRN_JFIF_MAJOR, JWRN_BOGUS_ICC  unknown or odd metadata;
//   JWRN_BOGUS_PROGRESSION, JWRN_NOT_SEQUENTIAL  unusual but decodable scan parameters;
//   JWRN_TOO_MUCH_DATA  only raised when the caller reads too many rows, which we never do.
bool MeansMissingPixels(int messageCode) {
  switch (messageCode) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
      return true;
    default:
      return false;
  }
}

struct ErrorManager {
  jpeg_error_mgr library;  // first member: libjpeg sees a jpeg_error_mgr*
  std::jmp_buf jump;
  bool picturePartial = false;
};

ErrorManager& Errors(j_common_ptr cinfo) { return *reinterpret_cast<ErrorManager*>(cinfo->err); }

[[noreturn]] void LeaveOnError(j_common_ptr cinfo) { std::longjmp(Errors(cinfo).jump, 1); }

// Warnings are judged, never printed; trace messages (level >= 0) are dropped.
void JudgeMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  ++cinfo->err->num_warnings;
  if (MeansMissingPixels(cinfo->err->msg_code)) Errors(cinfo).picturePartial = true;
}

void PrintNothing(j_common_ptr) {}

void LimitScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
    LeaveOnError(cinfo);
}

// How libjpeg's output samples become 0x00RRGGBB words.
enum class Layout {
  kPixelWords,     // libjpeg writes each pixel as one word in our layout; only the spare byte is cleared
  kRgb,            // three bytes per pixel (a libjpeg without the colour-space extensions)
  kQuantizedGray,  // one colormap index per pixel
  kCmyk,           // four bytes per pixel, inverted CMYK
};

#ifdef JCS_EXTENSIONS
// libjpeg-turbo converts YCbCr straight into 4-byte pixels with the same arithmetic as JCS_RGB (only the
// byte order differs), which spares a conversion pass over every pixel. B, G, R, X in memory is a
// little-endian 0xXXRRGGBB word.
constexpr bool kHasPixelWords = true;
constexpr J_COLOR_SPACE kPixelWordSpace =
    std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
#else
constexpr bool kHasPixelWords = false;
constexpr J_COLOR_SPACE kPixelWordSpace = JCS_RGB;
#endif

// Copies libjpeg's pixel words with the spare byte cleared. The fixed-length inner loop is what compilers
// vectorize at -O2, once they know the two rows do not overlap.
void CopyPixelWords(const std::uint32_t* __restrict in, std::uint32_t* __restrict out, int width) {
  int x = 0;
  for (; x + 8 <= width; x += 8)
    for (int i = 0; i < 8; ++i) out[x + i] = in[x + i] & 0x00FFFFFFu;
  for (; x < width; ++x) out[x] = in[x] & 0x00FFFFFFu;
}

}  // namespace

struct JpegScanlineReader::State {
  jpeg_decompress_struct cinfo{};
  ErrorManager errors{};
  jpeg_progress_mgr progress{};
  bool created = false;
  bool failed = false;
  Layout layout = Layout::kRgb;
  int orientation = kOrientationUpright;
  std::uint32_t grayColors[256] = {};
  std::vector<JSAMPLE> batch;
  std::vector<std::uint32_t> pixelWords;  // one row as libjpeg writes it (kPixelWords) or as converted
  JSAMPROW batchRows[kRowsPerBatch] = {};
  int rowsInBatch = 0;
  int nextRowInBatch = 0;

  State() {
    cinfo.err = jpeg_std_error(&errors.library);
    errors.library.error_exit = LeaveOnError;
    errors.library.emit_message = JudgeMessage;
    errors.library.output_message = PrintNothing;
    progress.progress_monitor = LimitScans;
  }
  ~State() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  bool Fail() {
    failed = true;
    return false;
  }
  bool Usable() const { return created && !failed && !errors.picturePartial; }

  void ChooseOutput();
  void ReadOrientation();
  void PrepareBatch();
  bool ReadBatch();
  bool ReadPixelWords();
  std::uint32_t* RowWords() { return pixelWords.data() + 1; }
  void ConvertRow(const JSAMPLE* in, std::uint32_t* out) const;
};

// The next row into RowWords(), for Layout::kPixelWords: each pixel one word, bits 24-31 as libjpeg left them.
bool JpegScanlineReader::State::ReadPixelWords() {
  if (cinfo.output_scanline >= cinfo.output_height) return false;
  if (setjmp(errors.jump)) return Fail();
  // libjpeg-turbo writes rows that start on a 16-byte boundary with stores that bypass the cache, and
  // reading such a row back costs a trip to memory; a row buffer off that boundary stays in cache.
  JSAMPROW row = reinterpret_cast<JSAMPROW>(RowWords());
  if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return Fail();
  return true;
}

bool JpegScanlineReader::State::ReadBatch() {
  if (cinfo.output_scanline >= cinfo.output_height) return false;
  if (setjmp(errors.jump)) return Fail();
  rowsInBatch = static_cast<int>(jpeg_read_scanlines(&cinfo, batchRows, kRowsPerBatch));
  nextRowInBatch = 0;
  return rowsInBatch > 0 || Fail();
}

void JpegScanlineReader::State::ChooseOutput() {
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = TRUE;
  cinfo.do_block_smoothing = TRUE;
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1;
  cinfo.buffered_image = FALSE;  // a progressive file is taken in completely before the first row
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      layout = Layout::kQuantizedGray;
      cinfo.out_color_space = JCS_GRAYSCALE;
      cinfo.quantize_colors = TRUE;
      cinfo.desired_number_of_colors = kGrayLevels;
      cinfo.two_pass_quantize = FALSE;
      cinfo.dither_mode = JDITHER_FS;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      layout = kHasPixelWords ? Layout::kPixelWords : Layout::kRgb;
      cinfo.out_color_space = kHasPixelWords ? kPixelWordSpace : JCS_RGB;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      layout = Layout::kCmyk;
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:  // two components, five, ...: nothing a photo could be
      ERREXIT(&cinfo, JERR_CONVERSION_NOTIMPL);
  }
}

void JpegScanlineReader::State::ReadOrientation() {
  for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker != nullptr; marker = marker->next) {
    const std::span<const std::uint8_t> payload(marker->data, marker->data_length);
    if (marker->marker != kApp1 || !IsExifPayload(payload)) continue;
    orientation = ReadExifOrientation(payload);  // the first EXIF block is the camera's
    return;
  }
}

void JpegScanlineReader::State::PrepareBatch() {
  if (layout == Layout::kQuantizedGray) {
    for (int i = 0; i < cinfo.actual_number_of_colors; ++i) {
      const std::uint32_t v = cinfo.colormap[0][i];
      grayColors[i] = PackRgb(v, v, v);
    }
  }
  pixelWords.resize(cinfo.output_width + 1);
  if (layout == Layout::kPixelWords) return;
  const std::size_t rowBytes = static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components;
  batch.resize(rowBytes * kRowsPerBatch);
  for (int i = 0; i < kRowsPerBatch; ++i) batchRows[i] = batch.data() + rowBytes * i;
}

void JpegScanlineReader::State::ConvertRow(const JSAMPLE* in, std::uint32_t* out) const {
  const int width = static_cast<int>(cinfo.output_width);
  switch (layout) {
    case Layout::kPixelWords:  // read one row at a time instead
      break;
    case Layout::kRgb:
      for (int x = 0; x < width; ++x, in += 3) out[x] = PackRgb(in[0], in[1], in[2]);
      break;
    case Layout::kQuantizedGray:
      for (int x = 0; x < width; ++x) out[x] = grayColors[in[x]];
      break;
    case Layout::kCmyk:
      // The samples are inverted CMYK (as Adobe applications write them): 255 is no ink.
      for (int x = 0; x < width; ++x, in += 4) {
        const int k = in[3];
        out[x] = PackRgb(std::max(0, in[0] + k - 255), std::max(0, in[1] + k - 255),
                         std::max(0, in[2] + k - 255));
      }
      break;
  }
}

JpegScanlineReader::JpegScanlineReader() = default;
JpegScanlineReader::~JpegScanlineReader() = default;

bool JpegScanlineReader::Open(std::span<const std::uint8_t> file) {
  try {
    state_ = std::make_unique<State>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  State& s = *state_;
  if (file.empty()) return s.Fail();
  if (setjmp(s.errors.jump)) return s.Fail();
  jpeg_create_decompress(&s.cinfo);
  s.created = true;
  // Progressive files keep every coefficient of the picture until the last scan; a picture of the
  // largest accepted size needs about 400 MB of them. Anything above fails instead of swapping the
  // machine to death.
  s.cinfo.mem->max_memory_to_use = kMaxJpegMemory;
  s.cinfo.progress = &s.progress;
  jpeg_mem_src(&s.cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_save_markers(&s.cinfo, kApp1, kMaxSavedApp1);
  jpeg_read_header(&s.cinfo, TRUE);
  if (s.cinfo.image_width > static_cast<JDIMENSION>(kMaxImageSide) ||
      s.cinfo.image_height > static_cast<JDIMENSION>(kMaxImageSide) ||
      std::uint64_t{s.cinfo.image_width} * s.cinfo.image_height > kMaxImagePixels)
    return s.Fail();
  s.ReadOrientation();
  s.ChooseOutput();
  jpeg_start_decompress(&s.cinfo);
  if (s.cinfo.output_width == 0 || s.cinfo.output_height == 0) return s.Fail();
  try {
    s.PrepareBatch();
  } catch (const std::bad_alloc&) {
    return s.Fail();
  }
  return s.Usable();
}

int JpegScanlineReader::Width() const { return state_ ? static_cast<int>(state_->cinfo.output_width) : 0; }
int JpegScanlineReader::Height() const { return state_ ? static_cast<int>(state_->cinfo.output_height) : 0; }
int JpegScanlineReader::Orientation() const { return state_ ? state_->orientation : kOrientationUpright; }

bool JpegScanlineReader::ReadRow(std::uint32_t* destination) {
  const std::uint32_t* row = ReadRowInPlace();
  if (!row) return false;
  CopyPixelWords(row, destination, Width());
  return true;
}

const std::uint32_t* JpegScanlineReader::ReadRowInPlace() {
  if (!state_ || !state_->Usable()) return nullptr;
  State& s = *state_;
  if (s.layout == Layout::kPixelWords) {
    if (!s.ReadPixelWords()) return nullptr;
  } else {
    if (s.nextRowInBatch == s.rowsInBatch && !s.ReadBatch()) return nullptr;
    s.ConvertRow(s.batchRows[s.nextRowInBatch++], s.RowWords());
  }
  // Rows of a batch that ran past the end of the data are padding; say so at once.
  return s.Usable() ? s.RowWords() : nullptr;
}

bool JpegScanlineReader::Finish() {
  if (!state_) return false;
  State& s = *state_;
  const bool allRowsRead =
      s.created && s.cinfo.output_scanline >= s.cinfo.output_height && s.nextRowInBatch == s.rowsInBatch;
  bool whole = s.Usable() && allRowsRead;
  if (whole) {
    if (setjmp(s.errors.jump)) {
      whole = false;
    } else {
      jpeg_finish_decompress(&s.cinfo);  // reads on to EOI: a missing end shows up here
      whole = s.Usable();
    }
  }
  state_.reset();
  return whole;
}

bool DecodeJpeg(std::span<const std::uint8_t> file, WorkingImage& image) {
  try {
    JpegScanlineReader reader;
    if (!reader.Open(file)) return false;
    const int w = reader.Width();
    const int h = reader.Height();
    const int orientation = reader.Orientation();
    const int uprightWidth = UprightWidth(w, h, orientation);
    const int uprightHeight = UprightHeight(w, h, orientation);
    if (image.Width() != uprightWidth || image.Height() != uprightHeight) {
      image.SetSize(0, 0);  // nothing of an old picture needs keeping: every pixel is painted below
      image.SetSize(uprightWidth, uprightHeight);
    }
    if (orientation == kOrientationUpright) {
      for (int y = 0; y < h; ++y)
        if (!reader.ReadRow(image.Row(y))) return false;
    } else {
      std::vector<std::uint32_t> row(static_cast<std::size_t>(w));
      for (int y = 0; y < h; ++y) {
        if (!reader.ReadRow(row.data())) return false;
        PlaceStoredRow(row.data(), y, w, h, orientation, image);
      }
    }
    return reader.Finish();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace imaging
