// Stores readers' photos on a thread of its own, one photo at a time. Storing a photo is mostly the
// database server's work on the value, so a run hands each photo over here and decodes and normalizes
// the next reader's photo meanwhile.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "data/PhotoStore.h"
#include "data/Session.h"
#include "imaging/PhotoStream.h"

namespace photoimport {

// Stores the photo under the guard (data::StorePhoto). A store that finds the connection lost connects
// again with the same parameters and is repeated once; ConnectionLost then means the server is still
// out of reach. Never throws.
data::StoreResult StoreReconnecting(data::Session& session, const std::string& cardNumber,
                                    std::span<const std::uint8_t> photo, data::PhotoGuard guard);

// What the worker does with each photo: StorePhoto (the default), or, in a dry run, PredictStore.
using StoreAction = std::function<data::StoreResult(data::Session&, const std::string& cardNumber,
                                                    std::span<const std::uint8_t> photo, data::PhotoGuard)>;

// As StoreReconnecting, with PredictStore instead of StorePhoto: changes nothing.
data::StoreResult PredictReconnecting(data::Session& session, const std::string& cardNumber,
                                      std::span<const std::uint8_t> photo, data::PhotoGuard guard);

// The thread lives as long as the worker. While a store is in flight the worker alone uses the session
// (only Session::Cancel() may come from elsewhere); the owner uses it again only after the store's result
// or the worker's end. The destructor lets a store in flight finish.
class PhotoStoreWorker {
 public:
  explicit PhotoStoreWorker(data::Session& session, StoreAction action = StoreReconnecting);
  ~PhotoStoreWorker();  // lets a store in flight finish, then ends the thread
  PhotoStoreWorker(const PhotoStoreWorker&) = delete;
  PhotoStoreWorker& operator=(const PhotoStoreWorker&) = delete;

  // Starts storing the photo in the stream as the photo of the reader with that card number. The photo
  // changes places with the worker's own stream, so the caller gets back a stream to fill with the next
  // photo while this one is stored (two streams in all, however many photos). No store may be in flight.
  void Store(const std::string& cardNumber, imaging::MemoryStream& photo, data::PhotoGuard guard);
  // Waits for the store started last and gives its result. Once per Store().
  data::StoreResult Wait();
  // As Wait(), for at most `longest`: nothing when the store is still running (wait again then).
  std::optional<data::StoreResult> WaitFor(std::chrono::milliseconds longest);
  // Ends the store in flight (Session::Cancel): it changes nothing and ends as Cancelled, not repeated.
  void Cancel();

 private:
  enum class State { Idle, Requested, Finished };
  void Serve();
  data::StoreResult TakeResult();

  data::Session& session_;
  const StoreAction action_;
  std::mutex mutex_;
  // A plain condition variable and flag, not std::jthread's stop token: in the Windows build (MinGW's
  // GCC 12 library over winpthreads), a std::condition_variable_any wait can miss the stop token's
  // wake-up, and the join then waits for ever (a few times in ten thousand worker ends under Wine).
  std::condition_variable changed_;
  // Guarded by mutex_; handed over with the request.
  State state_ = State::Idle;
  bool ending_ = false;
  std::string cardNumber_;
  imaging::MemoryStream photo_;
  data::PhotoGuard guard_ = data::PhotoGuard::Empty;
  data::StoreResult result_;
  std::thread thread_;  // last: started once the members above exist
};

}  // namespace photoimport
