// libFuzzer target: the Jpeg decoder on arbitrary bytes. It must return true or false, never crash, hang,
// leak or read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/Decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  imaging::WorkingImage image;
  if (imaging::DecodeJpeg(std::span<const std::uint8_t>(data, size), image)) {
    // A picture that decoded is whole: every row is there.
    volatile std::uint32_t last = image.Pixels().empty() ? 0 : image.Pixels().back();
    (void)last;
  }
  return 0;
}
