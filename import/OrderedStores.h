// Readers' photos stored on one connection or on several at once, the results handed back in the order
// the stores were started (reader order). Where a store mostly waits for the server (a network round trip
// and a commit that reaches the disk), a second connection stores the next reader's photo meanwhile.
// Each store is its reader's one guarded statement, committed by itself, so stores of different readers
// do not depend on each other; two stores of one card number never run at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/PhotoStore.h"
#include "data/Session.h"
#include "imaging/PhotoStream.h"
#include "import/PhotoStoreWorker.h"

namespace photoimport {

// Connections for a run's stores besides `session`: wanted - 1 more, made like it, where the server is a
// process of its own that can work on several stores at once (PostgreSQL, SQL Server). None for SQLite,
// whose writers take turns on one file anyway, or for a driver of unknown kind. A connection that cannot
// be made is left out: the run stores on fewer.
std::vector<std::unique_ptr<data::Session>> MoreStoreConnections(data::Session& session, int wanted);

class OrderedStores {
 public:
  // Stores through `session` and through each of `more` (owned here from now on), each on a worker
  // thread of its own (PhotoStoreWorker), all with the same action.
  OrderedStores(data::Session& session, const StoreAction& action, std::vector<std::unique_ptr<data::Session>> more);
  OrderedStores(const OrderedStores&) = delete;
  OrderedStores& operator=(const OrderedStores&) = delete;

  // A store of this card number may start now: a connection is free and no store of the same card
  // number (letter case and trailing blanks aside, as a server may compare them) is in flight.
  bool CanStart(const std::string& cardNumber) const;
  // Starts the store on a free connection; the stream changes places as in PhotoStoreWorker::Store.
  void Start(const std::string& cardNumber, imaging::MemoryStream& photo, data::PhotoGuard guard);
  // Waits at most `longest` for the oldest store in flight and gives its result; nothing while it runs.
  std::optional<data::StoreResult> WaitForOldest(std::chrono::milliseconds longest);
  // Ends every store in flight (PhotoStoreWorker::Cancel).
  void CancelAll();

 private:
  struct InFlight {
    std::size_t worker;
    std::string cardNumber;  // as compared: trimmed, upper case
  };

  std::vector<std::unique_ptr<data::Session>> more_;  // before the workers, which use them
  std::vector<std::unique_ptr<PhotoStoreWorker>> workers_;
  std::deque<InFlight> inFlight_;  // oldest first
};

}  // namespace photoimport
