// The PNG image data: the IDAT chunks' contents read as one zlib stream, in pieces of exactly the size
// the caller asks for, so that a stream shorter or longer than the image needs is noticed.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace imaging::png {

class Inflater {
 public:
  explicit Inflater(const std::vector<std::span<const std::uint8_t>>& parts);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Fills out completely from the stream; false when the stream is damaged or ends first.
  bool Read(std::uint8_t* out, std::size_t size);

  // True when the stream ends exactly where the reading stopped, its checksum is right and no
  // compressed data follows it.
  bool EndsHere();

 private:
  bool NextPart();
  bool InputLeft() const;
  // One inflate step; false when the stream is damaged or no progress is possible for lack of input.
  bool Step();

  const std::vector<std::span<const std::uint8_t>>& parts_;
  std::size_t nextPart_ = 0;
  z_stream stream_{};
  bool ready_ = false;
  bool ended_ = false;
};

}  // namespace imaging::png
