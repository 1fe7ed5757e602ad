#include "imaging/PngInflater.h"

#include <algorithm>

namespace imaging::png {

Inflater::Inflater(const std::vector<std::span<const std::uint8_t>>& parts) : parts_(parts) {
  ready_ = inflateInit(&stream_) == Z_OK;
}

Inflater::~Inflater() {
  if (ready_) inflateEnd(&stream_);
}

bool Inflater::NextPart() {
  while (nextPart_ < parts_.size()) {
    const auto part = parts_[nextPart_++];
    if (part.empty()) continue;
    stream_.next_in = const_cast<Bytef*>(part.data());  // zlib never writes through next_in
    stream_.avail_in = static_cast<uInt>(part.size());  // a chunk holds at most 2^31 - 1 bytes
    return true;
  }
  return false;
}

bool Inflater::InputLeft() const {
  return stream_.avail_in > 0 ||
         std::any_of(parts_.begin() + nextPart_, parts_.end(), [](auto part) { return !part.empty(); });
}

bool Inflater::Step() {
  if (stream_.avail_in == 0) NextPart();
  const int result = inflate(&stream_, Z_NO_FLUSH);
  if (result == Z_STREAM_END) {
    ended_ = true;
    return true;
  }
  if (result == Z_OK) return true;
  // No progress: fine only while more input waits in the following chunks.
  return result == Z_BUF_ERROR && stream_.avail_in == 0 && InputLeft();
}

bool Inflater::Read(std::uint8_t* out, std::size_t size) {
  if (!ready_) return false;
  stream_.next_out = out;
  stream_.avail_out = static_cast<uInt>(size);
  while (stream_.avail_out > 0) {
    if (ended_ || !Step()) return false;
  }
  return true;
}

bool Inflater::EndsHere() {
  if (!ready_) return false;
  std::uint8_t extra = 0;
  stream_.next_out = &extra;
  stream_.avail_out = 1;
  while (!ended_) {
    if (!Step() || stream_.avail_out == 0) return false;  // damaged, cut short, or more data than needed
  }
  return stream_.avail_out == 1 && !InputLeft();
}

}  // namespace imaging::png
