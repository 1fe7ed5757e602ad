// bench-normalize FOLDER [ROUNDS]: per-photo time of MakePhotoStream against a bare full-scale libjpeg
// decode of the same file with the same settings (accurate integer DCT, smooth upsampling, block
// smoothing, RGB out, from the bytes in memory into a buffer and nothing else), measured in one run,
// interleaved and repeated; medians per photo, then per group of photos of one size. The decode is timed
// twice: into a fresh buffer, and into a buffer already mapped (no page faults, the stricter baseline). Also the peak memory of one normalization and
// of one bare decode of the largest JPEG, each in a fresh child process.
//
// bench-normalize --peak normalize|decode FILE  is the child's side of the memory measurement.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/PhotoStream.h"

namespace {

using Clock = std::chrono::steady_clock;

struct JumpOnError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void Jump(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JumpOnError*>(cinfo->err)->jump, 1); }

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fclose(f);
  }
  return bytes;
}

// The baseline: the file's bytes (already in memory) decoded at full scale into one RGB buffer.
bool BareDecode(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& pixels, int& width, int& height) {
  jpeg_decompress_struct cinfo{};
  JumpOnError errors{};
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = Jump;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = TRUE;
  cinfo.do_block_smoothing = TRUE;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  width = static_cast<int>(cinfo.output_width);
  height = static_cast<int>(cinfo.output_height);
  const std::size_t stride = static_cast<std::size_t>(width) * cinfo.output_components;
  pixels.resize(stride * height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[16];
    for (int i = 0; i < 16; ++i)
      rows[i] = pixels.data() + stride * std::min<std::size_t>(cinfo.output_scanline + i, height - 1);
    jpeg_read_scanlines(&cinfo, rows, 16);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Photo {
  std::string path;
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0;
  std::vector<double> normalizeMs, decodeMs, warmDecodeMs;
  std::vector<std::uint8_t> warmBuffer;  // the pixel buffer of the stricter baseline, touched once beforehand
};

double TimeNormalize(const Photo& photo) {
  imaging::MemoryStream stream;
  const auto start = Clock::now();
  const bool ok = imaging::MakePhotoStream(photo.path, stream);
  const double ms = Milliseconds(Clock::now() - start);
  if (!ok) std::fprintf(stderr, "bench-normalize: %s: MakePhotoStream failed\n", photo.path.c_str());
  return ms;
}

// A fresh buffer each time, as a decoder of a new picture fills.
double TimeDecode(const Photo& photo) {
  std::vector<std::uint8_t> pixels;
  int w, h;
  const auto start = Clock::now();
  BareDecode(photo.bytes, pixels, w, h);
  return Milliseconds(Clock::now() - start);
}

// The stricter baseline: a buffer whose pages are already mapped, so no page faults are counted.
double TimeWarmDecode(Photo& photo) {
  int w, h;
  const auto start = Clock::now();
  BareDecode(photo.bytes, photo.warmBuffer, w, h);
  return Milliseconds(Clock::now() - start);
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
  if (what == "normalize") {
    imaging::MemoryStream stream;
    if (!imaging::MakePhotoStream(file, stream)) return 1;
  } else {
    const auto bytes = ReadAll(file);
    std::vector<std::uint8_t> pixels;
    int w, h;
    if (!BareDecode(bytes, pixels, w, h)) return 1;
  }
  std::printf("%ld\n", PeakResidentKilobytes());
  return 0;
}

bool IsJpegName(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".jpg" || extension == ".jpeg";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "--peak")) return PeakChild(argv[2], argv[3]);
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: bench-normalize FOLDER [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;
  std::vector<Photo> photos;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
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
    std::fprintf(stderr, "bench-normalize: no JPEG photos in %s\n", argv[1]);
    return 1;
  }
  for (int round = 0; round < rounds; ++round) {
    for (auto& photo : photos) {
      // Alternate which one goes first, so that neither always finds the caches warm.
      if (round % 2) {
        photo.normalizeMs.push_back(TimeNormalize(photo));
        photo.decodeMs.push_back(TimeDecode(photo));
        photo.warmDecodeMs.push_back(TimeWarmDecode(photo));
      } else {
        photo.warmDecodeMs.push_back(TimeWarmDecode(photo));
        photo.decodeMs.push_back(TimeDecode(photo));
        photo.normalizeMs.push_back(TimeNormalize(photo));
      }
    }
  }
  std::map<std::pair<int, int>, std::vector<const Photo*>> groups;
  for (const auto& photo : photos) groups[{photo.width, photo.height}].push_back(&photo);
  std::printf("%-10s %6s %12s %12s %12s %8s %8s\n", "size", "photos", "normalize", "decode", "decode-warm",
              "ratio", "ratio-w");
  for (const auto& [size, members] : groups) {
    std::vector<double> normalize, decode, warm;
    double normalizeSum = 0, decodeSum = 0, warmSum = 0;
    for (const Photo* photo : members) {
      normalize.push_back(Median(photo->normalizeMs));
      decode.push_back(Median(photo->decodeMs));
      warm.push_back(Median(photo->warmDecodeMs));
      normalizeSum += normalize.back();
      decodeSum += decode.back();
      warmSum += warm.back();
    }
    const std::string name = std::to_string(size.first) + "x" + std::to_string(size.second);
    std::printf("%-10s %6zu %9.3f ms %9.3f ms %9.3f ms %8.3f %8.3f\n", name.c_str(), members.size(), Median(normalize),
                Median(decode), Median(warm), normalizeSum / decodeSum, normalizeSum / warmSum);
  }
  std::printf("(medians per photo over the rounds, then over the photos; ratios of the summed per-photo medians;\n"
              " decode-warm decodes into a buffer whose pages are already mapped)\n");
  const auto largest = std::max_element(photos.begin(), photos.end(), [](const Photo& a, const Photo& b) {
    return static_cast<long>(a.width) * a.height < static_cast<long>(b.width) * b.height;
  });
  std::printf("peak memory for %s (%dx%d): normalize %ld KiB, bare decode %ld KiB\n", largest->path.c_str(),
              largest->width, largest->height, PeakKilobytes("/proc/self/exe", "normalize", largest->path),
              PeakKilobytes("/proc/self/exe", "decode", largest->path));
  return 0;
}
