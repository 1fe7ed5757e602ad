#include "import/StoreAction.h"

#include <algorithm>

#include "imaging/PhotoBitmap.h"
#include "records/RunBackup.h"

namespace photoimport {
namespace {

using data::StoreOutcome;
using data::StoreResult;

// What a store does about the reader's current photo.
enum class Step { Store, AlreadyThere, Replace, Keep };

Step StepFor(StoreMode mode, const data::Bytes& current, std::span<const std::uint8_t> photo) {
  if (current.empty()) return Step::Store;
  if (std::ranges::equal(current, photo)) return Step::AlreadyThere;  // a store whose reply was lost
  if (mode == StoreMode::Replace && imaging::IsStoredBitmap(current)) return Step::Replace;
  return Step::Keep;
}

// A photo kept: selected as a reader without one, it has one now; or, replacing, it is another format.
StoreResult Kept(StoreMode mode) {
  return {mode == StoreMode::Replace ? StoreOutcome::NotBitmap : StoreOutcome::PhotoChanged, {}};
}

StoreResult Replacing(data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                      RunBackup* backup) {
  const data::CurrentPhoto current = data::ReadCurrentPhoto(session, cardNumber);
  if (current.readers == 0) return {StoreOutcome::NoSuchCard, {}};
  if (current.readers > 1) return {StoreOutcome::CardShared, {}};
  switch (StepFor(StoreMode::Replace, current.value, photo)) {
    case Step::Store: return data::StorePhoto(session, cardNumber, photo, data::PhotoGuard::Empty);
    case Step::AlreadyThere: return {};
    case Step::Keep: return Kept(StoreMode::Replace);
    case Step::Replace: break;
  }
  if (backup) {
    if (std::string problem = backup->Keep({cardNumber, current.name}, current.value, photo); !problem.empty())
      return {StoreOutcome::BackupFailed, problem};
  }
  return data::ReplacePhoto(session, cardNumber, photo, current.value);
}

}  // namespace

StoreAction StoreActionFor(StoreMode mode, RunBackup* backup) {
  if (mode == StoreMode::NewOnly) {
    return [](data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo) {
      return data::StorePhoto(session, cardNumber, photo, data::PhotoGuard::Empty);
    };
  }
  return [backup](data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo) {
    return data::AttemptStore([&] { return Replacing(session, cardNumber, photo, backup); });
  };
}

StoreAction PredictActionFor(StoreMode mode) {
  return [mode](data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo) {
    return data::AttemptStore([&]() -> StoreResult {
      const data::CurrentPhoto current = data::ReadCurrentPhoto(session, cardNumber);
      if (current.readers == 0) return {StoreOutcome::NoSuchCard, {}};
      if (current.readers > 1) return {StoreOutcome::CardShared, {}};
      return StepFor(mode, current.value, photo) == Step::Keep ? Kept(mode) : StoreResult{};
    });
  };
}

}  // namespace photoimport
