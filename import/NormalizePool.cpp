#include "import/NormalizePool.h"

#include <algorithm>
#include <system_error>

namespace photoimport {

int DefaultNormalizeWorkers() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

OrderedWorkers::OrderedWorkers(int workers, int slotsPerWorker)
    : capacity_(std::max(workers, 1) * std::max(slotsPerWorker, 1)), slots_(static_cast<std::size_t>(capacity_)) {
  threads_.reserve(static_cast<std::size_t>(std::max(workers, 0)));
  try {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // Fewer threads than asked for (none at all: the jobs run on the caller's thread when taken).
  }
}

OrderedWorkers::~OrderedWorkers() {
  Stop();
  for (std::thread& thread : threads_) thread.join();
}

bool OrderedWorkers::Full() const {
  std::lock_guard lock(mutex_);
  return submitted_ - taken_ >= capacity_;
}

bool OrderedWorkers::Empty() const {
  std::lock_guard lock(mutex_);
  return submitted_ == taken_;
}

bool OrderedWorkers::Submit(std::function<void(int slot)> job) {
  {
    std::lock_guard lock(mutex_);
    if (stopped_ || submitted_ - taken_ >= capacity_) return false;
    Slot& slot = slots_[static_cast<std::size_t>(submitted_ % capacity_)];
    slot.job = std::move(job);
    slot.done = false;
    slot.failure = nullptr;
    ++submitted_;
  }
  jobQueued_.notify_one();
  return true;
}

std::optional<int> OrderedWorkers::TakeOldest() {
  std::unique_lock lock(mutex_);
  if (stopped_ || taken_ == submitted_) return std::nullopt;
  const std::int64_t oldest = taken_;
  Slot& slot = slots_[static_cast<std::size_t>(oldest % capacity_)];
  if (threads_.empty() && started_ == oldest) Run(started_++, lock);
  oldestDone_.wait(lock, [&] { return stopped_ || slot.done; });
  if (stopped_) return std::nullopt;
  ++taken_;
  slot.done = false;
  if (slot.failure) std::rethrow_exception(std::exchange(slot.failure, nullptr));
  return static_cast<int>(oldest % capacity_);
}

void OrderedWorkers::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  jobQueued_.notify_all();
  oldestDone_.notify_all();
}

void OrderedWorkers::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    jobQueued_.wait(lock, [this] { return stopped_ || started_ < submitted_; });
    if (stopped_) return;
    Run(started_++, lock);
  }
}

// Runs job `sequence` without the lock (taken and given back), then marks its slot done.
void OrderedWorkers::Run(std::int64_t sequence, std::unique_lock<std::mutex>& lock) {
  Slot& slot = slots_[static_cast<std::size_t>(sequence % capacity_)];
  std::function<void(int)> job = std::exchange(slot.job, nullptr);
  lock.unlock();
  std::exception_ptr failure;
  try {
    job(static_cast<int>(sequence % capacity_));
  } catch (...) {
    failure = std::current_exception();
  }
  job = nullptr;  // what the job holds goes before the slot can be reused
  lock.lock();
  slot.done = true;
  slot.failure = failure;
  if (sequence == taken_) oldestDone_.notify_all();
}

}  // namespace photoimport
