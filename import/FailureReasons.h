// Why a reader's photo was not imported, as the run's log says it after the file's path.
#pragma once

#include <string>

#include "imaging/PhotoStream.h"

namespace photoimport {

// A file that cannot be decoded, whatever its format: the library system's own wording.
inline constexpr const char* kDamagedPictureReason = "图片有问题，未能导入！";
// A file that several selected readers would take.
inline constexpr const char* kSharedFileReason = "同时匹配多位读者，未导入";
// A reader without a file because its identifier is empty (not logged: readers without a file never are).
inline constexpr const char* kNoIdentifierReason = "读者标识为空，未查找相片文件";

// The reason for a file that did not become a photo (never called with PhotoFailure::None).
std::string PhotoFailureReason(imaging::PhotoFailure failure);

}  // namespace photoimport
