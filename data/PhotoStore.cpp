#include "data/PhotoStore.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace data {
namespace {

// How often a store is made in all when the server keeps ending it for a conflict.
constexpr int kConflictAttempts = 3;

// Before a store ended for a conflict is made again: a short pause, so that the other session can finish
// and release the locks that formed the deadlock (Microsoft's advice for a deadlock victim), of random
// length, so that two stores that deadlocked do not meet again at the same moment.
void PauseBeforeRetry() {
  thread_local std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<int> milliseconds(50, 250);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds(random)));
}

// Why a store that changed nothing did not store: the rows it looked for, read again.
StoreOutcome WhyNothingChanged(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo) {
  const CurrentPhoto current = ReadCurrentPhoto(session, cardNumber);
  if (current.readers == 0) return StoreOutcome::NoSuchCard;
  if (current.readers > 1) return StoreOutcome::CardShared;
  if (std::ranges::equal(current.value, photo)) return StoreOutcome::Stored;
  return StoreOutcome::PhotoChanged;
}

}  // namespace

StoreResult FailedStore(const std::exception& error) {
  const auto* db = dynamic_cast<const DbError*>(&error);
  if (!db) return {StoreOutcome::DatabaseError, error.what()};
  switch (db->failure()) {
    case DbFailure::ConnectionLost: return {StoreOutcome::ConnectionLost, db->what()};
    case DbFailure::TimedOut: return {StoreOutcome::TimedOut, db->what()};
    case DbFailure::Cancelled: return {StoreOutcome::Cancelled, db->what()};
    case DbFailure::NoAnswer: return {StoreOutcome::Unknown, db->what()};
    case DbFailure::Conflict:
    case DbFailure::Statement: break;
  }
  return {StoreOutcome::DatabaseError, db->what()};
}

StoreResult AttemptStore(const std::function<StoreResult()>& attempt) {
  for (int attempts = 1;; ++attempts) {
    try {
      return attempt();
    } catch (const DbError& error) {
      if (error.failure() != DbFailure::Conflict || attempts == kConflictAttempts) return FailedStore(error);
      PauseBeforeRetry();
    } catch (const std::exception& error) {
      return FailedStore(error);
    }
  }
}

CurrentPhoto ReadCurrentPhoto(Session& session, const std::string& cardNumber) {
  auto rows = session.Open(ReadPhotoStatement(session.dialect(), cardNumber));
  CurrentPhoto current;
  for (; !rows->Eof(); rows->Next(), ++current.readers) {
    current.name = rows->Text("pe_name");
    current.name.erase(current.name.find_last_not_of(' ') + 1);
    current.value = rows->AsBytes("pe_photo").value_or(Bytes());
  }
  rows->Close();
  return current;
}

StoreResult StorePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                       PhotoGuard guard) {
  return AttemptStore([&]() -> StoreResult {
    const long long changed = session.Execute(StorePhotoStatement(session.dialect(), guard, cardNumber, photo));
    if (changed == 1) return {};
    // The statement's uniqueness test keeps it from changing more than one row; a driver that cannot
    // count (-1) is answered by the read.
    return {WhyNothingChanged(session, cardNumber, photo), {}};
  });
}

StoreResult ReplacePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                         std::span<const std::uint8_t> current) {
  return AttemptStore([&]() -> StoreResult {
    const long long changed =
        session.Execute(ReplacePhotoStatement(session.dialect(), cardNumber, photo, current));
    if (changed == 1) return {};
    return {WhyNothingChanged(session, cardNumber, photo), {}};
  });
}

}  // namespace data
