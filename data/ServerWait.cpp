#include "data/ServerWait.h"

#include <condition_variable>
#include <exception>
#include <string>
#include <thread>

#include "data/Session.h"

namespace data {

using Clock = std::chrono::steady_clock;

struct ServerWait::Call {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;  // guarded by mutex, as are the members below
  std::exception_ptr failure;
  std::optional<Clock::time_point> cancelledAt;
};

void ServerWait::Run(std::function<void()> call, std::chrono::milliseconds limit) {
  auto state = std::make_shared<Call>();
  {
    std::lock_guard lock(mutex_);
    inFlight_ = state;
  }
  std::thread([state, call = std::move(call)] {
    std::exception_ptr failure;
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(state->mutex);
    state->failure = failure;
    state->done = true;
    state->changed.notify_all();
  }).detach();

  const Clock::time_point started = Clock::now();
  const Clock::time_point deadline = limit.count() > 0 ? started + limit : Clock::time_point::max();
  std::unique_lock lock(state->mutex);
  bool givenUp = false;
  while (!state->done && !givenUp) {
    const Clock::time_point until =
        state->cancelledAt ? std::min(deadline, *state->cancelledAt + kCancelGrace) : deadline;
    if (until == Clock::time_point::max()) state->changed.wait(lock);
    else givenUp = state->changed.wait_until(lock, until) == std::cv_status::timeout && Clock::now() >= until;
  }
  const bool done = state->done;
  const bool cancelled = state->cancelledAt.has_value();
  std::exception_ptr failure = state->failure;
  lock.unlock();
  {
    std::lock_guard guard(mutex_);
    inFlight_.reset();
  }
  if (!done) {
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
    throw DbError("数据库服务器 " + std::to_string(waited) + " 秒没有应答" + (cancelled ? "（取消也没有应答）" : "") +
                      "，已放弃这个连接",
                  DbFailure::NoAnswer);
  }
  if (failure) std::rethrow_exception(failure);
}

void ServerWait::Cancel(std::function<void()> send) {
  std::shared_ptr<Call> state;
  {
    std::lock_guard lock(mutex_);
    state = inFlight_;
  }
  std::thread(std::move(send)).detach();
  if (!state) return;
  std::lock_guard lock(state->mutex);
  if (!state->cancelledAt) state->cancelledAt = Clock::now();
  state->changed.notify_all();
}

}  // namespace data
