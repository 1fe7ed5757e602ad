#include "import/StoreReason.h"

namespace photoimport {

std::string StoreFailureReason(const data::StoreResult& result) {
  using data::StoreOutcome;
  switch (result.outcome) {
    case StoreOutcome::Stored: return {};
    case StoreOutcome::NoSuchCard: return "借书证号不存在";
    case StoreOutcome::CardShared: return "借书证号重复，有多名读者使用这个证号，均未修改";
    case StoreOutcome::PhotoChanged: return "相片已被他人修改，未覆盖";
    case StoreOutcome::NotBitmap: return "现有相片不是位图，未覆盖";
    case StoreOutcome::TimedOut: return "等待数据库超时，读者记录可能正被其他程序占用";
    case StoreOutcome::Cancelled: return "保存已取消";
    case StoreOutcome::ConnectionLost: return "与数据库的连接已断开";
    case StoreOutcome::Unknown: return kUnknownOutcomeReason + ("（" + result.driverText + "）");
    case StoreOutcome::BackupFailed: return "现有相片未能备份，未覆盖：" + result.driverText;
    case StoreOutcome::DatabaseError: break;
  }
  return "数据库错误：" + result.driverText;
}

}  // namespace photoimport
