// card-photo decode INPUT OUTPUT.ppm: writes the white-backed working image that decoding the photo file
// gives, as a binary PPM.
#include <cstdio>
#include <string>
#include <vector>

#include "app/AtomicFile.h"
#include "app/FilePath.h"
#include "imaging/PictureDecoding.h"
#include "tools/Commands.h"
#include "tools/ConsoleText.h"

namespace {

std::vector<std::uint8_t> ToPpm(const imaging::WorkingImage& image) {
  const std::string header =
      "P6\n" + std::to_string(image.Width()) + " " + std::to_string(image.Height()) + "\n255\n";
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  bytes.reserve(header.size() + image.Pixels().size() * 3);
  for (const std::uint32_t pixel : image.Pixels()) {
    bytes.push_back(static_cast<std::uint8_t>(pixel >> 16));
    bytes.push_back(static_cast<std::uint8_t>(pixel >> 8));
    bytes.push_back(static_cast<std::uint8_t>(pixel));
  }
  return bytes;
}

int DecodeMain(int argc, char** argv) {
  if (argc != 3) {
    tools::Fprintf(stderr, "usage: card-photo decode INPUT OUTPUT.ppm\n");
    return 2;
  }
  imaging::WorkingImage image;
  if (!imaging::LoadPictureFile(image, argv[1])) {
    tools::Fprintf(stderr, "card-photo decode: %s: missing, unreadable or not a usable JPEG, PNG or BMP picture\n",
                 argv[1]);
    return 1;
  }
  if (const std::string problem = app::WriteFileAtomically(app::PathFromUtf8(argv[2]), ToPpm(image)); !problem.empty()) {
    tools::Fprintf(stderr, "card-photo decode: %s\n", problem.c_str());
    return 1;
  }
  return 0;
}

const bool registered = tools::RegisterCommand(
    "decode", "  decode INPUT OUTPUT.ppm      write the decoded picture (white background) as a binary PPM",
    DecodeMain);

}  // namespace
