// bench-normalize FOLDER... [--rounds N]: per-photo cost of MakePhotoStream against a bare full-scale
// libjpeg decode of the same file with the same settings (accurate integer DCT, smooth upsampling, block
// smoothing, RGB out, from the bytes in memory into a buffer and nothing else), measured in one run,
// interleaved and repeated; medians per photo, then per group of photos of one size.
//
// The cost that counts is processor time (user + system): on a machine shared with other work, wall time
// measures the neighbours as much as the code. The normalization is measured both ways it runs: on the
// calling thread alone (as a pool of workers runs it, one photo per core) and split over a decoding
// and a resampling thread (one photo at a time); the wall times show which of the two finishes one photo
// sooner. The decode is timed into a fresh buffer and into a buffer already mapped (no page faults, the
// stricter baseline). Also the peak memory of each on the largest JPEG, each in a fresh child process.
//
// bench-normalize --peak one|split|decode FILE  is the child's side of the memory measurement.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/Text.h"
#include "imaging/PhotoStream.h"
#include "tools/BareJpegDecode.h"

namespace {

using benchsupport::BareDecode;
using benchsupport::ReadAll;
using Clock = std::chrono::steady_clock;

// Processor time (user + system) of the calling thread, or of the whole process (every thread of it:
// the split normalization decodes on a second one; nothing else runs in this program meanwhile).
double CpuMilliseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One way of handling a photo, timed: wall-clock time and the processor time of `clock`.
struct Timing {
  std::vector<double> wallMs, cpuMs;
  double MedianWall() const { return Median(wallMs); }
  double MedianCpu() const { return Median(cpuMs); }
};

template <typename Work>
void Time(Timing& timing, clockid_t clock, Work work) {
  const double cpuStart = CpuMilliseconds(clock);
  const auto start = Clock::now();
  work();
  timing.wallMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  timing.cpuMs.push_back(CpuMilliseconds(clock) - cpuStart);
}

struct Photo {
  std::string path;
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0;
  Timing decode, warmDecode, normalizeOne, normalizeSplit;
  std::vector<std::uint8_t> warmBuffer;  // the pixel buffer of the stricter baseline, touched once beforehand
};

void Normalize(const Photo& photo, imaging::PhotoThreads threads) {
  imaging::MemoryStream stream;
  if (!imaging::MakePhotoStream(photo.path, stream, threads))
    std::fprintf(stderr, "bench-normalize: %s: MakePhotoStream failed\n", photo.path.c_str());
}

// The four measurements of one photo in one round, in an order that changes from round to round, so
// that none of them always finds the caches warm.
void MeasureRound(Photo& photo, int round) {
  const std::function<void()> steps[] = {
      [&] {
        Time(photo.normalizeOne, CLOCK_THREAD_CPUTIME_ID, [&] { Normalize(photo, imaging::PhotoThreads::CallingThread); });
      },
      [&] {
        // A fresh buffer each time, as a decoder of a new picture fills.
        Time(photo.decode, CLOCK_THREAD_CPUTIME_ID, [&] {
          std::vector<std::uint8_t> pixels;
          int w, h;
          BareDecode(photo.bytes, pixels, w, h);
        });
      },
      [&] {
        Time(photo.normalizeSplit, CLOCK_PROCESS_CPUTIME_ID, [&] { Normalize(photo, imaging::PhotoThreads::Split); });
      },
      [&] {
        // The stricter baseline: a buffer whose pages are already mapped, so no page faults are counted.
        Time(photo.warmDecode, CLOCK_THREAD_CPUTIME_ID, [&] {
          int w, h;
          BareDecode(photo.bytes, photo.warmBuffer, w, h);
        });
      },
  };
  constexpr int kSteps = 4;
  for (int i = 0; i < kSteps; ++i) steps[(i + round) % kSteps]();
}

long PeakKilobytes(const char* self, const char* what, const std::string& file) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    execl(self, self, "--peak", what, file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  char text[64] = {};
  const ssize_t got = read(pipeEnds[0], text, sizeof text - 1);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return got > 0 ? std::atol(text) : -1;
}

// Peak resident memory of this process image. getrusage's ru_maxrss would also count what the parent
// held before the exec, so the kernel's high-water mark of the current address space is read instead.
long PeakResidentKilobytes() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kilobytes = -1;
  while (std::fgets(line, sizeof line, status))
    if (std::sscanf(line, "VmHWM: %ld kB", &kilobytes) == 1) break;
  std::fclose(status);
  return kilobytes;
}

int PeakChild(const std::string& what, const std::string& file) {
  if (what == "decode") {
    const auto bytes = ReadAll(file);
    std::vector<std::uint8_t> pixels;
    int w, h;
    if (!BareDecode(bytes, pixels, w, h)) return 1;
  } else {
    const auto threads = what == "split" ? imaging::PhotoThreads::Split : imaging::PhotoThreads::CallingThread;
    imaging::MemoryStream stream;
    if (!imaging::MakePhotoStream(file, stream, threads)) return 1;
  }
  std::printf("%ld\n", PeakResidentKilobytes());
  return 0;
}

bool IsJpegName(const std::filesystem::path& path) {
  const std::string extension = app::LowerAscii(path.extension().string());
  return extension == ".jpg" || extension == ".jpeg";
}


// The summed per-photo medians of one measurement over a group of photos.
template <typename Take>
double Sum(const std::vector<const Photo*>& photos, Take take) {
  double sum = 0;
  for (const Photo* photo : photos) sum += take(*photo);
  return sum;
}

void Report(const std::vector<Photo>& photos) {
  std::map<std::pair<int, int>, std::vector<const Photo*>> groups;
  for (const auto& photo : photos) groups[{photo.width, photo.height}].push_back(&photo);
  std::printf("processor time (user + system) per photo, ms\n");
  std::printf("%-10s %6s %9s %11s %9s %9s %9s %9s\n", "size", "photos", "decode", "decode-warm", "one", "one/dec",
              "one/warm", "split/dec");
  for (const auto& [size, members] : groups) {
    const double n = static_cast<double>(members.size());
    const double decode = Sum(members, [](const Photo& p) { return p.decode.MedianCpu(); });
    const double warm = Sum(members, [](const Photo& p) { return p.warmDecode.MedianCpu(); });
    const double one = Sum(members, [](const Photo& p) { return p.normalizeOne.MedianCpu(); });
    const double split = Sum(members, [](const Photo& p) { return p.normalizeSplit.MedianCpu(); });
    const std::string name = std::to_string(size.first) + "x" + std::to_string(size.second);
    std::printf("%-10s %6zu %9.3f %11.3f %9.3f %9.3f %9.3f %9.3f\n", name.c_str(), members.size(), decode / n,
                warm / n, one / n, one / decode, one / warm, split / decode);
  }
  std::printf("wall-clock time per photo, ms\n");
  std::printf("%-10s %6s %9s %9s %9s %11s\n", "size", "photos", "decode", "one", "split", "split/one");
  for (const auto& [size, members] : groups) {
    const double n = static_cast<double>(members.size());
    const double decode = Sum(members, [](const Photo& p) { return p.decode.MedianWall(); });
    const double one = Sum(members, [](const Photo& p) { return p.normalizeOne.MedianWall(); });
    const double split = Sum(members, [](const Photo& p) { return p.normalizeSplit.MedianWall(); });
    const std::string name = std::to_string(size.first) + "x" + std::to_string(size.second);
    std::printf("%-10s %6zu %9.3f %9.3f %9.3f %11.3f\n", name.c_str(), members.size(), decode / n, one / n,
                split / n, split / one);
  }
  std::printf("(one: normalized on the calling thread; split: a large JPEG decoded on a second thread;\n"
              " medians per photo over the rounds; ratios of the sums of those medians over the photos;\n"
              " decode-warm decodes into a buffer whose pages are already mapped)\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "--peak")) return PeakChild(argv[2], argv[3]);
  std::vector<std::string> folders;
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else folders.push_back(argv[i]);
  }
  if (folders.empty()) {
    std::fprintf(stderr, "usage: bench-normalize FOLDER... [--rounds N]\n");
    return 2;
  }
  std::vector<Photo> photos;
  for (const auto& folder : folders)
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.is_regular_file() && IsJpegName(entry.path())) {
        Photo photo;
        photo.path = entry.path().string();
        photos.push_back(std::move(photo));
      }
  std::sort(photos.begin(), photos.end(), [](const Photo& a, const Photo& b) { return a.path < b.path; });
  for (auto& photo : photos) {
    photo.bytes = ReadAll(photo.path);
    if (!BareDecode(photo.bytes, photo.warmBuffer, photo.width, photo.height)) photo.width = 0;
  }
  std::erase_if(photos, [](const Photo& p) { return p.width == 0; });
  if (photos.empty()) {
    std::fprintf(stderr, "bench-normalize: no JPEG photos in the folders\n");
    return 1;
  }
  for (int round = 0; round < rounds; ++round)
    for (auto& photo : photos) MeasureRound(photo, round);
  Report(photos);
  const auto largest = std::max_element(photos.begin(), photos.end(), [](const Photo& a, const Photo& b) {
    return static_cast<long>(a.width) * a.height < static_cast<long>(b.width) * b.height;
  });
  std::printf("peak memory for %s (%dx%d): normalize one %ld KiB, split %ld KiB, bare decode %ld KiB\n",
              largest->path.c_str(), largest->width, largest->height,
              PeakKilobytes("/proc/self/exe", "one", largest->path),
              PeakKilobytes("/proc/self/exe", "split", largest->path),
              PeakKilobytes("/proc/self/exe", "decode", largest->path));
  return 0;
}
