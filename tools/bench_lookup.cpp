// bench-lookup [READERS [FILES]]: time of a run's photo lookups against one folder, listing included.
// Makes FILES empty photo files (default 50,000) named "A<number>_<name>_<class>.<ext>" in a temporary
// folder, then for the segment and the prefix rule lists the folder once and looks up READERS identifiers (default
// 50,000; one in ten has no file).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "import/PhotoLookup.h"

namespace {

using photoimport::LookupMode;
using photoimport::PhotoFolder;

constexpr const char* kExtensions[] = {"jpg", "JPG", "png", "jpeg", "bmp"};

std::string CardNumber(int i) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "A%06d", i);
  return buffer;
}

void MakeFiles(const std::string& folder, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string name = CardNumber(i) + "_读者" + std::to_string(i % 97) + "_高一" + std::to_string(i % 12) +
                             "班." + kExtensions[i % 5];
    std::ofstream(folder + "/" + name);
  }
}

template <typename Lookup>
void Measure(const char* rule, const std::string& folderPath, int readers, Lookup lookup) {
  const auto start = std::chrono::steady_clock::now();
  const PhotoFolder folder(folderPath);
  const auto listed = std::chrono::steady_clock::now();
  int found = 0;
  for (int i = 0; i < readers; ++i) {
    // One reader in ten carries a number beyond the files: no photo.
    const int number = i % 10 == 9 ? 10'000'000 + i : i;
    if (!lookup(folder, CardNumber(number)).empty()) ++found;
  }
  const auto end = std::chrono::steady_clock::now();
  const auto ms = [](auto a, auto b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
  std::printf("%-14s listing %8.1f ms  lookups %8.1f ms  total %8.1f ms  found %d of %d\n", rule, ms(start, listed),
              ms(listed, end), ms(start, end), found, readers);
}

}  // namespace

int main(int argc, char** argv) {
  const int readers = argc > 1 ? std::atoi(argv[1]) : 50'000;
  const int files = argc > 2 ? std::atoi(argv[2]) : 50'000;
  std::string folder = (std::filesystem::temp_directory_path() / "bench-lookup.XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    std::perror("bench-lookup: mkdtemp");
    return 2;
  }
  MakeFiles(folder, files);
  std::printf("bench-lookup: %d readers against a folder of %d files\n", readers, files);
  Measure("segment 1", folder, readers,
          [](const PhotoFolder& f, const std::string& id) { return f.Find(id, 0, LookupMode::Segment); });
  Measure("prefix 7", folder, readers,
          [](const PhotoFolder& f, const std::string& id) { return f.Find(id, 6, LookupMode::Prefix); });
  std::filesystem::remove_all(folder);
  return 0;
}
