// A run's readers on their way through the run, in one ordered queue. Readers enter in reader order; the
// photos of the readers ahead are read, decoded and normalized on a pool of workers, each photo whole on
// one worker's thread; each photo is stored on one of the store lanes (connections) while the next ones
// are normalized; and every reader leaves the queue in reader order once its outcome is known: its log
// line, its count and its progress. A reader without a store (no file, a file that could not be used)
// waits in the same queue behind the stores before it, so the stores never wait for it.
//
// The observer is called on the caller's thread only, each kind of call in reader order. Memory is
// bounded: the pool's slots, one photo per lane, and a bounded number of readers waiting to leave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "imaging/PhotoStream.h"
#include "import/ImportRun.h"
#include "import/NormalizePool.h"
#include "import/ReaderPlan.h"
#include "import/StoreLanes.h"
#include "sources/PhotoSource.h"

namespace photoimport {

class ReaderPipeline {
 public:
  // The photos of `plan` come from `source`; jobs: the normalizing workers, 0 for one per core. Outcomes
  // are counted into `result` (its selected count is the progress total).
  ReaderPipeline(StoreLanes& lanes, ImportObserver& observer, PhotoSource& source,
                 const std::vector<PlannedReader>& plan, int jobs, ImportResult& result);
  ~ReaderPipeline();

  // The next reader of the plan (called once per reader, in plan order). Returns when the reader is in the
  // queue: its photo normalized and its store started, or its outcome known.
  void Add(const ReaderRow& row, const PlannedReader& plan);
  // After the last reader, a stop or a lost connection: the workers start no further photo (photos
  // normalized ahead are dropped unreported), the stores in flight end and every reader in the queue
  // leaves it.
  void End();
  // A store has found the connection lost and making it again failed: no further store starts (the
  // reader that would have been stored next is not reported; the run stops before it).
  bool ConnectionLost() const { return connectionLost_; }

 private:
  struct Queued;
  struct Photo;

  Photo NextPhoto();
  void SubmitAhead();
  void Queue(FinishedReader reader);
  // Starts the store on a free lane once one is free and no store of the same card number is in flight;
  // false when the connection is lost meanwhile.
  bool StartStore(FinishedReader& reader, imaging::MemoryStream& photo);
  bool StoreOfCardInFlight(const std::string& cardNumber) const;
  // Reports the readers at the head of the queue whose outcome is known, up to the oldest store in flight.
  // Results of stores are taken only when the run needs them (a lane for the next store, too many readers
  // waiting, the end), so what is reported when depends on the readers and the lanes alone, not on how
  // fast the server answers.
  void ReportReady();
  // Takes the result of the oldest store in flight, waiting for it while keeping the observer's window
  // responsive, and reports what can leave the queue.
  void WaitForOldestStore();
  void Report(Queued& queued);

  StoreLanes& lanes_;
  ImportObserver& observer_;
  PhotoSource& source_;
  const std::vector<PlannedReader>& plan_;
  ImportResult& result_;
  std::size_t nextToSubmit_ = 0;
  int done_ = 0;
  bool connectionLost_ = false;
  bool serverSilent_ = false;  // a store was given up on: the server answered neither it nor its cancel
  std::deque<Queued> queue_;  // readers in reader order, oldest first
  std::unique_ptr<NormalizePool<Photo, PlannedReader>> photos_;  // last: its workers end first
};

}  // namespace photoimport
