// card-photo normalize INPUT OUTPUT: writes the stored photo value that the import run would store for
// the photo file INPUT.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/AtomicFile.h"
#include "app/FilePath.h"
#include "imaging/PhotoStream.h"
#include "tools/Commands.h"
#include "tools/ConsoleText.h"

namespace {

int NormalizeMain(int argc, char** argv) {
  if (argc != 3) {
    tools::Fprintf(stderr, "usage: card-photo normalize INPUT OUTPUT\n");
    return 2;
  }
  const std::string input = argv[1];
  const std::string output = argv[2];
  std::error_code error;
  if (!std::filesystem::is_regular_file(app::PathFromUtf8(input), error)) {
    tools::Fprintf(stderr, "card-photo normalize: %s: no such file\n", input.c_str());
    return 1;
  }
  imaging::MemoryStream stream;
  if (!imaging::MakePhotoStream(input, stream)) {
    tools::Fprintf(stderr, "card-photo normalize: %s: not a usable JPEG, PNG or BMP picture\n", input.c_str());
    return 1;
  }
  if (const std::string problem = app::WriteFileAtomically(app::PathFromUtf8(output), stream.bytes); !problem.empty()) {
    tools::Fprintf(stderr, "card-photo normalize: %s\n", problem.c_str());
    return 1;
  }
  return 0;
}

const bool registered = tools::RegisterCommand(
    "normalize", "  normalize INPUT OUTPUT       write the stored photo value (16-bit BMP) made from a photo file",
    NormalizeMain);

}  // namespace
