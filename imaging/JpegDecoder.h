// JPEG decoding through libjpeg with the settings that make the stored photo reproducible: accurate
// integer inverse DCT, smooth (fancy) chroma upsampling, block smoothing, full scale; grayscale through
// the one-pass quantizer (236 grays, Floyd-Steinberg); CMYK/YCCK read as inverted CMYK.
//
// JpegScanlineReader streams the picture row by row in stored order (top to bottom, no orientation
// applied) so that a caller can consume rows without holding the whole image. DecodeJpeg
// (imaging/Decoders.h) is built on it and returns the picture upright (EXIF orientation applied).
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace imaging {

class JpegScanlineReader {
 public:
  JpegScanlineReader();
  ~JpegScanlineReader();
  JpegScanlineReader(const JpegScanlineReader&) = delete;
  JpegScanlineReader& operator=(const JpegScanlineReader&) = delete;

  // Reads the headers and starts decompression (a progressive file is decoded completely here).
  // The bytes must stay alive and unchanged until Finish() or destruction. False when the data is not
  // a JPEG this program can use (damaged, unsupported, 0 or more than 65535 pixels on a side).
  bool Open(std::span<const std::uint8_t> file);

  // Stored size (before orientation) and the EXIF orientation 1..8 (1 when absent or malformed).
  int Width() const;
  int Height() const;
  int Orientation() const;

  // Writes the next stored row, Width() pixels of 0x00RRGGBB, rows top to bottom. False after the
  // last row, on a decoding error, or as soon as the data has been found to end early.
  bool ReadRow(std::uint32_t* destination);
  // The same row in a buffer of the reader's own, valid until the next call, without the copy; bits 24-31
  // of each pixel are unspecified. nullptr where ReadRow returns false.
  const std::uint32_t* ReadRowInPlace();

  // The final verdict, after all rows were read: true only when the whole picture was decoded from
  // complete data (up to the end-of-image marker). Releases libjpeg's state either way.
  bool Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace imaging
