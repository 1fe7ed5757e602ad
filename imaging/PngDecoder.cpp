// The PNG decoder: our own container, filter and interlace code over zlib's inflate.
#include <algorithm>
#include <exception>
#include <vector>

#include "imaging/Decoders.h"
#include "imaging/PngChunks.h"
#include "imaging/PngColour.h"
#include "imaging/PngInflater.h"
#include "imaging/PngRows.h"

namespace imaging {
namespace {

using png::Pass;

// Deflate never expands more than 1032 to 1 (a 258-byte match in two bits), so image data below
// that bound is certainly too short; checking it first spares allocating a large image for nothing.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

bool ImageDataCanFill(const png::PngFile& file) {
  if (std::uint64_t{file.header.width} * file.header.height > kMaxImagePixels) return false;
  std::uint64_t compressed = 0;
  for (const auto part : file.imageData) compressed += part.size();
  return png::ImageDataSize(file.header) <= compressed * kMaxDeflateRatio;
}

// Reads the scanlines of one pass, unfilters them and paints their pixels into place.
bool DecodePass(const png::PngFile& file, const Pass& pass, const png::PixelConverter& converter,
                png::Inflater& inflater, WorkingImage& image) {
  if (pass.width == 0 || pass.height == 0) return true;
  const std::size_t rowBytes = png::RowBytes(file.header, pass.width);
  const std::size_t pixelBytes = std::max(1, png::BitsPerPixel(file.header) / 8);
  // Each buffer: the filter-type byte, then the scanline.
  std::vector<std::uint8_t> current(1 + rowBytes), previous(1 + rowBytes, 0);
  std::vector<std::uint32_t> pixels(pass.dx > 1 ? pass.width : 0);
  for (std::uint32_t j = 0; j < pass.height; ++j) {
    if (!inflater.Read(current.data(), current.size())) return false;
    if (!png::Unfilter(current[0], current.data() + 1, previous.data() + 1, rowBytes, pixelBytes))
      return false;
    const int y = static_cast<int>(pass.y0 + j * pass.dy);
    if (pass.dx == 1) {
      converter.ConvertRow(current.data() + 1, pass.width, image.Row(y) + pass.x0);
    } else {
      converter.ConvertRow(current.data() + 1, pass.width, pixels.data());
      std::uint32_t* target = image.Row(y);
      for (std::uint32_t i = 0; i < pass.width; ++i) target[pass.x0 + i * pass.dx] = pixels[i];
    }
    current.swap(previous);
  }
  return true;
}

bool DecodeImageData(const png::PngFile& file, WorkingImage& image) {
  const png::PixelConverter converter(file);
  png::Inflater inflater(file.imageData);
  for (const Pass& pass : png::PassesOf(file.header)) {
    if (!DecodePass(file, pass, converter, inflater, image)) return false;
  }
  return inflater.EndsHere();
}

}  // namespace

bool DecodePng(std::span<const std::uint8_t> file, WorkingImage& image) {
  try {
    png::PngFile png;
    if (!png::ParsePng(file, png) || !ImageDataCanFill(png)) return false;
    WorkingImage decoded(static_cast<int>(png.header.width), static_cast<int>(png.header.height));
    if (!DecodeImageData(png, decoded)) return false;
    image = std::move(decoded);
    return true;
  } catch (const std::exception&) {  // an image too large for memory
    return false;
  }
}

}  // namespace imaging
