#include "import/PhotoStoreWorker.h"

#include <exception>
#include <utility>

namespace photoimport {

namespace {

data::StoreResult Reconnecting(decltype(&data::StorePhoto) attempt, data::Session& session,
                               const std::string& cardNumber, std::span<const std::uint8_t> photo,
                               data::PhotoGuard guard) {
  const data::StoreResult first = attempt(session, cardNumber, photo, guard);
  if (first.outcome != data::StoreOutcome::ConnectionLost) return first;
  try {
    session.Reconnect();
  } catch (const std::exception& error) {
    return {data::StoreOutcome::ConnectionLost, first.driverText + "\n" + error.what()};
  }
  // The first attempt may have been carried out before its reply was lost: the store then finds the
  // photo already there, which counts as stored.
  return attempt(session, cardNumber, photo, guard);
}

}  // namespace

data::StoreResult StoreReconnecting(data::Session& session, const std::string& cardNumber,
                                    std::span<const std::uint8_t> photo, data::PhotoGuard guard) {
  return Reconnecting(&data::StorePhoto, session, cardNumber, photo, guard);
}

data::StoreResult PredictReconnecting(data::Session& session, const std::string& cardNumber,
                                      std::span<const std::uint8_t> photo, data::PhotoGuard guard) {
  return Reconnecting(&data::PredictStore, session, cardNumber, photo, guard);
}

PhotoStoreWorker::PhotoStoreWorker(data::Session& session, StoreAction action)
    : session_(session), action_(std::move(action)), thread_([this] { Serve(); }) {}

PhotoStoreWorker::~PhotoStoreWorker() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void PhotoStoreWorker::Store(const std::string& cardNumber, imaging::MemoryStream& photo, data::PhotoGuard guard) {
  {
    std::lock_guard lock(mutex_);
    cardNumber_ = cardNumber;
    std::swap(photo_, photo);
    guard_ = guard;
    state_ = State::Requested;
  }
  changed_.notify_all();
}

data::StoreResult PhotoStoreWorker::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return state_ == State::Finished; });
  return TakeResult();
}

std::optional<data::StoreResult> PhotoStoreWorker::WaitFor(std::chrono::milliseconds longest) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, longest, [this] { return state_ == State::Finished; })) return std::nullopt;
  return TakeResult();
}

void PhotoStoreWorker::Cancel() { session_.Cancel(); }

data::StoreResult PhotoStoreWorker::TakeResult() {
  state_ = State::Idle;
  return std::move(result_);
}

// A request once taken is always carried out, also when the worker is being destroyed.
void PhotoStoreWorker::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || state_ == State::Requested; });
    if (state_ != State::Requested) return;
    lock.unlock();
    data::StoreResult result = action_(session_, cardNumber_, photo_.bytes, guard_);
    lock.lock();
    result_ = std::move(result);
    state_ = State::Finished;
    changed_.notify_all();
  }
}

}  // namespace photoimport
