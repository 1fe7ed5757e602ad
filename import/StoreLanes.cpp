#include "import/StoreLanes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

#include "data/ReaderStatements.h"

namespace photoimport {
namespace {

bool StoresInParallel(data::SqlDialect dialect) {
  return dialect == data::SqlDialect::Postgres || dialect == data::SqlDialect::SqlServer;
}

// A lane that lost its connection connects again with pauses that double from kFirstPause up to
// kLongestPause, for as long as a statement may wait (ReconnectWindow): a server that restarts is back
// within seconds, one that stays away ends the run.
constexpr std::chrono::milliseconds kFirstPause{250};
constexpr std::chrono::milliseconds kLongestPause{4000};
constexpr std::chrono::milliseconds kCancelCheck{100};

std::chrono::seconds ReconnectWindow(const data::Session& session) {
  const int seconds = session.timeouts().statementSeconds;
  return std::chrono::seconds(seconds > 0 ? seconds : 30);
}

// The connection is gone, or the server stopped answering (the session has given that connection up).
bool ConnectionGone(const data::StoreResult& result) {
  return result.outcome == data::StoreOutcome::ConnectionLost || result.outcome == data::StoreOutcome::Unknown;
}

// Sleeps for `pause`, or less when a cancel comes.
void Pause(std::chrono::milliseconds pause, const std::atomic<bool>& cancelled) {
  for (auto slept = std::chrono::milliseconds(0); slept < pause && !cancelled; slept += kCancelCheck)
    std::this_thread::sleep_for(std::min(kCancelCheck, pause - slept));
}

// The action, made again on a new connection while the connection is gone. Made again, it reads what
// the first attempt left: a store whose answer was lost finds its photo there and counts as stored. A
// cancel ends the attempts (a store given up on after a cancel stays Unknown); when the server stays
// away, ConnectionLost, with the first and the last failure's words.
data::StoreResult Reconnecting(const StoreAction& action, data::Session& session, const std::string& cardNumber,
                               std::span<const std::uint8_t> photo, const std::atomic<bool>& cancelled) {
  data::StoreResult result = action(session, cardNumber, photo);
  if (!ConnectionGone(result) || cancelled) return result;
  const std::string first = result.driverText;
  std::string last;
  const auto deadline = std::chrono::steady_clock::now() + ReconnectWindow(session);
  for (std::chrono::milliseconds pause = kFirstPause; !cancelled; pause = std::min(2 * pause, kLongestPause)) {
    try {
      session.Reconnect();
      result = action(session, cardNumber, photo);
      if (!ConnectionGone(result) || cancelled) return result;
      last = result.driverText;
    } catch (const std::exception& error) {
      last = error.what();
    }
    if (cancelled || std::chrono::steady_clock::now() + pause > deadline) break;
    Pause(pause, cancelled);
  }
  return {data::StoreOutcome::ConnectionLost, first + "\n" + last};
}

}  // namespace

int DefaultStoreConnections(data::Session& session) {
  switch (session.dialect()) {
    case data::SqlDialect::Postgres: return 2;
    case data::SqlDialect::SqlServer:
      try {
        return data::HasCardNumberIndex(session) ? 2 : 1;
      } catch (const std::exception&) {
        return 1;  // a catalog the login may not read says nothing of an index
      }
    case data::SqlDialect::Sqlite:
    case data::SqlDialect::Other: break;
  }
  return 1;
}

std::vector<std::unique_ptr<data::Session>> MoreStoreConnections(data::Session& session, int wanted) {
  std::vector<std::unique_ptr<data::Session>> more;
  if (!StoresInParallel(session.dialect())) return more;
  if (wanted == 0) wanted = DefaultStoreConnections(session);
  for (int i = 1; i < wanted; ++i) {
    auto another = std::make_unique<data::Session>();
    try {
      another->ConnectLike(session);
    } catch (const std::exception&) {
      break;
    }
    more.push_back(std::move(another));
  }
  return more;
}

// A plain condition variable and flag, not std::jthread's stop token: in the Windows build (MinGW's GCC 12
// library over winpthreads) a std::condition_variable_any wait can miss the stop token's wake-up, and the
// join then waits for ever.
struct StoreLanes::Lane {
  explicit Lane(data::Session& s) : session(s) {}
  enum class State { Free, Requested, Running, Finished };

  data::Session& session;
  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by mutex; handed over with the request.
  State state = State::Free;
  bool ending = false;
  std::atomic<bool> cancelled{false};  // the store in flight is to end (set by Cancel, cleared by Start)
  std::string cardNumber;
  std::span<const std::uint8_t> photo;
  data::StoreResult result;
  std::thread thread;  // last: started once the members above exist
};

StoreLanes::StoreLanes(const std::vector<data::Session*>& sessions, StoreAction action) : action_(std::move(action)) {
  for (data::Session* session : sessions) lanes_.push_back(std::make_unique<Lane>(*session));
  for (const auto& lane : lanes_) lane->thread = std::thread([this, &lane = *lane] { Serve(lane); });
}

StoreLanes::~StoreLanes() {
  for (const auto& lane : lanes_) {
    {
      std::lock_guard lock(lane->mutex);
      lane->ending = true;
    }
    lane->changed.notify_all();
  }
  for (const auto& lane : lanes_) lane->thread.join();
}

std::optional<int> StoreLanes::FreeLane() const {
  for (std::size_t i = 0; i < lanes_.size(); ++i) {
    std::lock_guard lock(lanes_[i]->mutex);
    if (lanes_[i]->state == Lane::State::Free) return static_cast<int>(i);
  }
  return std::nullopt;
}

void StoreLanes::Start(int index, const std::string& cardNumber, std::span<const std::uint8_t> photo) {
  Lane& lane = *lanes_[static_cast<std::size_t>(index)];
  {
    std::lock_guard lock(lane.mutex);
    lane.cardNumber = cardNumber;
    lane.photo = photo;
    lane.cancelled = false;
    lane.state = Lane::State::Requested;
  }
  lane.changed.notify_all();
}

std::optional<data::StoreResult> StoreLanes::Result(int index, std::chrono::milliseconds longest) {
  Lane& lane = *lanes_[static_cast<std::size_t>(index)];
  std::unique_lock lock(lane.mutex);
  if (!lane.changed.wait_for(lock, longest, [&] { return lane.state == Lane::State::Finished; })) return std::nullopt;
  lane.state = Lane::State::Free;
  return std::move(lane.result);
}

void StoreLanes::Cancel(int index) {
  Lane& lane = *lanes_[static_cast<std::size_t>(index)];
  lane.cancelled = true;
  lane.session.Cancel();
}

// A request once taken is always carried out, also when the lanes are being destroyed.
void StoreLanes::Serve(Lane& lane) {
  std::unique_lock lock(lane.mutex);
  for (;;) {
    lane.changed.wait(lock, [&] { return lane.ending || lane.state == Lane::State::Requested; });
    if (lane.state != Lane::State::Requested) return;
    lane.state = Lane::State::Running;
    lock.unlock();
    data::StoreResult result = Reconnecting(action_, lane.session, lane.cardNumber, lane.photo, lane.cancelled);
    lock.lock();
    lane.result = std::move(result);
    lane.state = Lane::State::Finished;
    lane.changed.notify_all();
  }
}

}  // namespace photoimport
