#include "import/PhotoStoreWorker.h"

#include <utility>

#include "imaging/PhotoBitmap.h"

namespace photoimport {

bool StorePhoto(data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo) {
  try {
    const auto current = session.ReadPhoto(cardNumber);
    if (!current) return false;
    if (!current->empty() && !imaging::IsStoredBitmap(*current)) return false;
    session.WritePhoto(cardNumber, photo);
    return true;
  } catch (...) {
    return false;  // on the worker thread nothing may escape: any failure is a failed store
  }
}

PhotoStoreWorker::PhotoStoreWorker(data::Session& session)
    : session_(session), thread_([this](std::stop_token stop) { Serve(stop); }) {}

void PhotoStoreWorker::Store(const std::string& cardNumber, imaging::MemoryStream& photo) {
  {
    std::lock_guard lock(mutex_);
    cardNumber_ = cardNumber;
    std::swap(photo_, photo);
    state_ = State::Requested;
  }
  changed_.notify_all();
}

bool PhotoStoreWorker::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return state_ == State::Finished; });
  state_ = State::Idle;
  return stored_;
}

// A request once taken is always carried out, also when the worker is being destroyed.
void PhotoStoreWorker::Serve(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (changed_.wait(lock, stop, [this] { return state_ == State::Requested; })) {
    lock.unlock();
    const bool stored = StorePhoto(session_, cardNumber_, photo_.bytes);
    lock.lock();
    stored_ = stored;
    state_ = State::Finished;
    changed_.notify_all();
  }
}

}  // namespace photoimport
