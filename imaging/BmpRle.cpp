// Run-length encoded BMP pixel data (RLE8, RLE4 and the OS/2 RLE24), always bottom-up.
//
// Pixels the data never reaches (after a delta, an early end of line or end of bitmap) keep the white
// background. Pixels a run would put beyond the right edge are dropped; a run never wraps to the next
// row. A delta that moves past the top ends the picture. Data that runs out before the end-of-bitmap
// code, while rows are still missing, is a truncated file.
#include <algorithm>

#include "imaging/BmpFormat.h"
#include "imaging/Decoders.h"

namespace imaging::bmp {
namespace {

class RleReader {
 public:
  RleReader(std::span<const std::uint8_t> data, const Header& header, WorkingImage& image)
      : data_(data), header_(header), image_(image) {}

  Failure Run() {
    while (!Finished()) {
      const std::uint8_t* pair = Take(2);
      if (pair == nullptr) return Complete() ? Failure::kNone : Failure::kTruncatedRle;
      const bool ok = pair[0] > 0 ? RepeatRun(pair[0], pair[1]) : Escape(pair[1]);
      if (!ok) return Failure::kTruncatedRle;
    }
    return Failure::kNone;
  }

 private:
  static constexpr std::uint8_t kEndOfLine = 0;
  static constexpr std::uint8_t kEndOfBitmap = 1;
  static constexpr std::uint8_t kDelta = 2;

  bool Finished() const { return endOfBitmap_ || y_ >= header_.height; }
  // The last row was filled to its end: a missing end-of-bitmap code loses nothing.
  bool Complete() const { return y_ == header_.height - 1 && x_ >= header_.width; }

  const std::uint8_t* Take(std::size_t count) {
    if (count > data_.size() - position_) return nullptr;
    const std::uint8_t* bytes = data_.data() + position_;
    position_ += count;
    return bytes;
  }

  void Put(std::uint32_t colour) {
    if (x_ >= header_.width) return;
    image_.At(x_, header_.height - 1 - y_) = colour;
    ++x_;
  }

  std::uint32_t PaletteColour(unsigned index) const { return header_.palette[index]; }

  // A count followed by one pixel value: a byte (RLE8), two alternating nibbles (RLE4) or a BGR triple.
  bool RepeatRun(unsigned count, std::uint8_t first) {
    std::uint32_t colours[2];
    switch (header_.encoding) {
      case Encoding::kRle4:
        colours[0] = PaletteColour(first >> 4);
        colours[1] = PaletteColour(first & 0x0F);
        break;
      case Encoding::kRle24: {
        const std::uint8_t* rest = Take(2);
        if (rest == nullptr) return false;
        colours[0] = colours[1] = PackRgb(rest[1], rest[0], first);
        break;
      }
      default:
        colours[0] = colours[1] = PaletteColour(first);
        break;
    }
    for (unsigned i = 0; i < count && x_ < header_.width; ++i) Put(colours[i % 2]);
    return true;
  }

  bool Escape(std::uint8_t code) {
    switch (code) {
      case kEndOfLine:
        x_ = 0;
        ++y_;
        return true;
      case kEndOfBitmap:
        endOfBitmap_ = true;
        return true;
      case kDelta: {
        const std::uint8_t* move = Take(2);
        if (move == nullptr) return false;
        x_ = std::min(x_ + move[0], header_.width);
        y_ = std::min(y_ + move[1], header_.height);
        return true;
      }
      default:
        return Literal(code);
    }
  }

  // Absolute mode: count pixels stored one by one, padded to an even number of bytes.
  bool Literal(unsigned count) {
    std::size_t bytes = count;
    if (header_.encoding == Encoding::kRle4) bytes = (count + 1) / 2;
    if (header_.encoding == Encoding::kRle24) bytes = count * 3;
    const std::uint8_t* pixels = Take(bytes);
    if (pixels == nullptr) return false;
    Take(bytes % 2);  // the padding byte may be missing at the very end of the file
    for (unsigned i = 0; i < count && x_ < header_.width; ++i) Put(LiteralColour(pixels, i));
    return true;
  }

  std::uint32_t LiteralColour(const std::uint8_t* pixels, unsigned i) const {
    switch (header_.encoding) {
      case Encoding::kRle4:
        return PaletteColour(i % 2 == 0 ? pixels[i / 2] >> 4 : pixels[i / 2] & 0x0F);
      case Encoding::kRle24:
        return PackRgb(pixels[3 * i + 2], pixels[3 * i + 1], pixels[3 * i]);
      default:
        return PaletteColour(pixels[i]);
    }
  }

  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
  const Header& header_;
  WorkingImage& image_;
  int x_ = 0;  // 0..width; at width further pixels of the row are dropped
  int y_ = 0;  // rows from the bottom, 0..height
  bool endOfBitmap_ = false;
};

}  // namespace

Failure DecodeRle(std::span<const std::uint8_t> file, const Header& header, WorkingImage& image) {
  // Run-length data cannot be measured against the file (a few bytes may legally cover any size).
  const std::uint64_t pixels = static_cast<std::uint64_t>(header.width) * header.height;
  if (pixels > kMaxImagePixels) return Failure::kImageTooLarge;
  image.SetSize(header.width, header.height);
  RleReader reader(file.subspan(header.pixelOffset), header, image);
  return reader.Run();
}

}  // namespace imaging::bmp
