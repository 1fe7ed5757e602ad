#include "imaging/PictureDecoding.h"

#include <algorithm>

#include "app/FilePath.h"
#include "app/Text.h"
#include "imaging/Decoders.h"
#include "imaging/PhotoFile.h"

namespace imaging {
namespace {

constexpr std::size_t kShortestName = 4;

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
#else
constexpr const char* kPathSeparators = "/";
#endif

// Characters of a UTF-8 string: every byte that does not continue a multi-byte sequence.
std::size_t CharacterCount(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

bool DecodeByKind(std::span<const std::uint8_t> file, PictureKind kind, WorkingImage& picture) {
  switch (kind) {
    case PictureKind::Jpeg: return DecodeJpeg(file, picture);
    case PictureKind::Png: return DecodePng(file, picture);
    case PictureKind::Bmp: return DecodeBmp(file, picture);
    case PictureKind::Unregistered: return false;
  }
  return false;
}

}  // namespace

PictureKind PictureKindOf(const std::string& fileName) {
  const std::size_t nameStart = fileName.find_last_of(kPathSeparators);
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart))
    return PictureKind::Unregistered;
  const std::string extension = app::LowerAscii(fileName.substr(dot + 1));
  if (extension == "jpg" || extension == "jpeg") return PictureKind::Jpeg;
  if (extension == "png") return PictureKind::Png;
  if (extension == "bmp") return PictureKind::Bmp;
  return PictureKind::Unregistered;
}

bool LongEnoughName(const std::string& fileName) { return CharacterCount(fileName) >= kShortestName; }

bool ReadPictureFile(const std::string& fileName, std::vector<std::uint8_t>& bytes) {
  return LongEnoughName(fileName) && ReadPhotoFile(fileName, bytes) == PhotoFileRead::Read;
}

bool DecodePngFallback(std::span<const std::uint8_t> file, WorkingImage& picture) {
  picture = WorkingImage();
  return DecodePng(file, picture);
}

bool DecodePicture(std::span<const std::uint8_t> file, PictureKind kind, WorkingImage& picture) {
  if (DecodeByKind(file, kind, picture)) return true;
  // A file named .png has had its PNG attempt; the same decoder on the same bytes cannot do better.
  return kind != PictureKind::Png && DecodePngFallback(file, picture);
}

bool LoadPictureFile(WorkingImage& bitmap, const std::string& fileName) {
  try {
    std::vector<std::uint8_t> file;
    if (!ReadPictureFile(fileName, file)) return false;
    WorkingImage picture;
    if (!DecodePicture(file, PictureKindOf(fileName), picture)) return false;
    bitmap = std::move(picture);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace imaging
