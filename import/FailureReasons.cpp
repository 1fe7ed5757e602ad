#include "import/FailureReasons.h"

#include "imaging/Decoders.h"
#include "imaging/PhotoFile.h"

namespace photoimport {

using imaging::PhotoFailure;

std::string PhotoFailureReason(PhotoFailure failure) {
  switch (failure) {
    case PhotoFailure::MissingFile: return "文件已不存在，未能导入！";
    case PhotoFailure::UnreadableFile: return "文件无法读取，未能导入！";
    case PhotoFailure::FileTooLarge:
      return "文件大于 " + std::to_string(imaging::kMaxPhotoFileBytes >> 20) + " MB，不像是相片，未能导入！";
    case PhotoFailure::FileChanged: return "文件在读取时被改动，未能导入，请稍后再试！";
    case PhotoFailure::PictureTooLarge:
      return "图片超过 " + std::to_string(imaging::kMaxImagePixels / 10000) + " 万像素，未能导入！";
    // Neither JPEG, PNG nor BMP, or one that cannot be decoded: the picture cannot be used either way.
    case PhotoFailure::UnsupportedFormat:
    case PhotoFailure::DamagedPicture:
    case PhotoFailure::None: break;
  }
  return kDamagedPictureReason;
}

}  // namespace photoimport
