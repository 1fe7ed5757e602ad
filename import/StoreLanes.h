// The connections a run stores on, each with a thread of its own (a lane): while one lane's store waits
// for the server (a network round trip, a commit that reaches the disk, a row locked elsewhere), the run
// goes on normalizing photos and another lane stores the next reader's photo. A lane carries out one
// store at a time; which reader's store runs where, and in what order results are taken, is the caller's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "data/PhotoStore.h"
#include "data/Session.h"
#include "import/StoreAction.h"

namespace photoimport {

// How many connections suit a run's stores when the user names no number: two where the server is a
// process of its own that can work on several stores at once (PostgreSQL; SQL Server when lib_people has
// an index on pe_id, see data::HasCardNumberIndex: without one each store reads the whole table, and two
// at once wait for each other or deadlock), else one.
int DefaultStoreConnections(data::Session& session);

// Connections for a run's stores besides `session`: wanted - 1 more (0: DefaultStoreConnections), made
// like it, where the server can work on several stores at once (PostgreSQL, SQL Server). None for SQLite,
// whose writers take turns on one file anyway, or for a driver of unknown kind. A connection that cannot
// be made is left out: the run stores on fewer.
std::vector<std::unique_ptr<data::Session>> MoreStoreConnections(data::Session& session, int wanted);

class StoreLanes {
 public:
  // One lane on each session (they must outlive the lanes), all with the same action.
  StoreLanes(const std::vector<data::Session*>& sessions, StoreAction action);
  ~StoreLanes();  // lets the stores in flight finish, then ends the threads
  StoreLanes(const StoreLanes&) = delete;
  StoreLanes& operator=(const StoreLanes&) = delete;

  int Count() const { return static_cast<int>(lanes_.size()); }
  // A lane without a store in flight (one whose result has been taken), if any.
  std::optional<int> FreeLane() const;
  // Starts storing `photo` as the photo of the reader with that card number on the free lane. The bytes
  // must stay in place until the result is taken. A store that finds the connection lost, or whose server
  // stopped answering, connects again with the same parameters, with pauses that grow, for as long as a
  // statement may wait, and is made once more each time (it may have been carried out before its reply
  // was lost: the store then finds the photo already there, which counts as stored); ConnectionLost then
  // means the server stayed out of reach, and the store's own outcome is not known.
  void Start(int lane, const std::string& cardNumber, std::span<const std::uint8_t> photo);
  // The result of the lane's store, waiting at most `longest` for it; nothing while it still runs. The
  // lane is free once its result has been taken.
  std::optional<data::StoreResult> Result(int lane, std::chrono::milliseconds longest);
  // Ends the lane's store in flight (Session::Cancel) without waiting for the server: it changes nothing
  // and ends as Cancelled, not made again; or, when the server does not answer the cancel at once, as
  // Unknown.
  void Cancel(int lane);

 private:
  struct Lane;
  void Serve(Lane& lane);

  const StoreAction action_;
  std::vector<std::unique_ptr<Lane>> lanes_;
};

}  // namespace photoimport
