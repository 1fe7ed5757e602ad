// Why a photo was not stored, in the words the library staff read in the run's log.
#pragma once

#include <string>

#include "data/PhotoStore.h"

namespace photoimport {

// A store whose answer never came and that nothing settled since: the staff must look at the reader.
inline const std::string kUnknownOutcomeReason = "结果不明：数据库没有应答，相片可能已保存也可能没有，请检查这位读者";

// "借书证号不存在", "现有相片不是位图，未覆盖", "数据库错误：<driver text>", ...; empty for Stored.
std::string StoreFailureReason(const data::StoreResult& result);

}  // namespace photoimport
