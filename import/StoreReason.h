// Why a photo was not stored, in the words the library staff read in the run's log.
#pragma once

#include <string>

#include "data/PhotoStore.h"

namespace photoimport {

// "借书证号不存在", "现有相片不是位图，未覆盖", "数据库错误：<driver text>", ...; empty for Stored.
std::string StoreFailureReason(const data::StoreResult& result);

}  // namespace photoimport
