// Waiting for a database server that may never answer. A server whose processes are frozen (stopped, or
// swapped out for minutes), or a network that drops packets without a reset, leaves a driver call waiting
// for ever: the server's own statement timeout cannot fire, and a cancel sent to it waits just as long.
// So each call that waits for the server runs on a thread of its own, and its caller waits at most the
// statement timeout and a grace (the server's own timeout answers first where the server is alive), or,
// once a cancel was asked for, a short grace. A call given up on keeps running on its thread with
// everything it uses (its connection, its values), so that nothing is destroyed under the driver; the
// caller gets DbFailure::NoAnswer and never uses that connection again.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace data {

// How long past the statement timeout a call is still waited for.
inline constexpr std::chrono::seconds kAnswerGrace{5};
// How long after a cancel a call is still waited for: a live server answers a cancel at once.
inline constexpr std::chrono::seconds kCancelGrace{2};

class ServerWait {
 public:
  // Runs `call` on a thread of its own and waits for it: at most `limit` (zero: no limit), and after a
  // Cancel() at most kCancelGrace more. Rethrows what the call threw. Throws DbError (NoAnswer, the text
  // saying how long it waited) when the wait ends first; `call` must then own everything it uses.
  void Run(std::function<void()> call, std::chrono::milliseconds limit);
  // From any thread: sends the cancel (`send`, on a thread of its own, since a cancel to a frozen server
  // never returns) and shortens the wait of the call in flight, if any.
  void Cancel(std::function<void()> send);

 private:
  struct Call;
  std::mutex mutex_;
  std::shared_ptr<Call> inFlight_;  // guarded by mutex_
};

}  // namespace data
