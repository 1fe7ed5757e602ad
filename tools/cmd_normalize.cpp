// card-photo normalize INPUT OUTPUT [INPUT OUTPUT ...]: writes the stored photo value that the import run
// would store for each photo file INPUT into its OUTPUT.
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

// One pair; prints why it failed. True when OUTPUT holds the photo.
bool Normalize(const std::string& input, const std::string& output) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(app::PathFromUtf8(input), error)) {
    tools::Fprintf(stderr, "card-photo normalize: %s: no such file\n", input.c_str());
    return false;
  }
  imaging::MemoryStream stream;
  if (!imaging::MakePhotoStream(input, stream)) {
    tools::Fprintf(stderr, "card-photo normalize: %s: not a usable JPEG, PNG or BMP picture\n", input.c_str());
    return false;
  }
  if (const std::string problem = app::WriteFileAtomically(app::PathFromUtf8(output), stream.bytes); !problem.empty()) {
    tools::Fprintf(stderr, "card-photo normalize: %s\n", problem.c_str());
    return false;
  }
  return true;
}

// Several pairs in one process: the comparisons of whole picture suites start it once (a start costs far
// more than a photo under emulation). Each pair fails or succeeds on its own.
int NormalizeMain(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    tools::Fprintf(stderr, "usage: card-photo normalize INPUT OUTPUT [INPUT OUTPUT ...]\n");
    return 2;
  }
  bool allWritten = true;
  for (int i = 1; i + 1 < argc; i += 2) allWritten &= Normalize(argv[i], argv[i + 1]);
  return allWritten ? 0 : 1;
}

const bool registered = tools::RegisterCommand(
    "normalize",
    "  normalize INPUT OUTPUT [INPUT OUTPUT ...]\n"
    "                               write the stored photo value (16-bit BMP) made from each photo file",
    NormalizeMain);

}  // namespace
