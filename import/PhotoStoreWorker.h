// Stores readers' photos on a thread of its own, one photo at a time. Storing a photo is mostly the
// database server's work on the value (reading the current photo, writing the new one), so a run hands
// each photo over here and decodes and normalizes the next reader's photo meanwhile.
#pragma once

#include <condition_variable>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>
#include <thread>

#include "data/Session.h"
#include "imaging/PhotoStream.h"

namespace photoimport {

// Replaces the reader's photo. Fails when no reader has the card number, when the current value is a
// picture of another format (the tool can only replace bitmaps; the value is kept), or when the database
// refuses the write. Never throws.
bool StorePhoto(data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo);

// The thread lives as long as the worker. While a store is in flight the worker alone uses the session;
// the owner touches it again only after Wait() or the worker's end. The destructor lets a store in flight
// finish.
class PhotoStoreWorker {
 public:
  explicit PhotoStoreWorker(data::Session& session);
  PhotoStoreWorker(const PhotoStoreWorker&) = delete;
  PhotoStoreWorker& operator=(const PhotoStoreWorker&) = delete;

  // Starts storing the photo in the stream as the photo of the reader with that card number. The photo
  // changes places with the worker's own stream, so the caller gets back a stream to fill with the next
  // photo while this one is stored (two streams in all, however many photos). No store may be in flight.
  void Store(const std::string& cardNumber, imaging::MemoryStream& photo);
  // Waits for the store started last: true when the photo was stored. Once per Store().
  bool Wait();

 private:
  enum class State { Idle, Requested, Finished };
  void Serve(std::stop_token stop);

  data::Session& session_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  // Guarded by mutex_; handed over with the request.
  State state_ = State::Idle;
  std::string cardNumber_;
  imaging::MemoryStream photo_;
  bool stored_ = false;
  std::jthread thread_;  // last: stopped and joined first, while the members above still exist
};

}  // namespace photoimport
