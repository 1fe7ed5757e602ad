// Normalizing readers' photos side by side: a pool of workers, each of which takes the next submitted
// photo file and reads, decodes and normalizes it whole on its own thread. Results come back strictly in
// the order the files were submitted (reader order), whatever order the workers finish in.
//
// One photo per thread rather than one photo over two threads: over a batch of photos, every core busy
// with a photo of its own never waits for another thread, while a photo split over a decoding and a
// resampling thread keeps each of them waiting on the other for part of the time.
//
// Memory is bounded by the slots: at most Capacity() photos are submitted and not yet taken (being
// worked on, waiting for a worker, or done and waiting for their turn), however many readers a run has.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace photoimport {

// One worker per core, at least one.
int DefaultNormalizeWorkers();

// Photos in flight per worker by default: one being worked on and one done or waiting, so that a worker
// finishing early finds the next photo ready while an older one is still being worked on elsewhere.
inline constexpr int kPhotosPerWorker = 2;

// The workers, the slots and their order, apart from what a job produces. One caller thread submits jobs
// and takes them; Stop() may also come from another thread.
class OrderedWorkers {
 public:
  // workers == 0: no thread; each job runs on the caller's thread when it is taken.
  OrderedWorkers(int workers, int slotsPerWorker);
  ~OrderedWorkers();  // stops and joins every worker
  OrderedWorkers(const OrderedWorkers&) = delete;
  OrderedWorkers& operator=(const OrderedWorkers&) = delete;

  int Capacity() const { return capacity_; }
  int Workers() const { return static_cast<int>(threads_.size()); }
  // Every slot holds a job not yet taken: take one before submitting the next.
  bool Full() const;
  // No job submitted and not yet taken.
  bool Empty() const;

  // Queues job(slot) behind the jobs submitted before it. False (and nothing queued) after a stop or
  // when the slots are full. The job's slot stays its own until the job is taken.
  bool Submit(std::function<void(int slot)> job);
  // Waits for the oldest job not yet taken and frees its slot for the next Submit(): its slot, or
  // nullopt when nothing is in flight or after a stop (also one that comes while waiting). When the job
  // threw, its exception comes out here instead, in its turn; the jobs after it go on.
  std::optional<int> TakeOldest();
  // Jobs not yet started are dropped, jobs being worked on run to their end; from here on nothing is
  // handed back. The workers end as soon as their job ends.
  void Stop();

 private:
  struct Slot {
    std::function<void(int)> job;
    bool done = false;
    std::exception_ptr failure;
  };
  void Work();
  void Run(std::int64_t sequence, std::unique_lock<std::mutex>& lock);

  const int capacity_;
  mutable std::mutex mutex_;
  std::condition_variable jobQueued_;   // workers wait here
  std::condition_variable oldestDone_;  // the caller waits here
  // Guarded by mutex_. Jobs are numbered in submission order: [taken_, submitted_) are in flight, of
  // which [started_, submitted_) wait for a worker. Job n lives in slot n % capacity_.
  std::vector<Slot> slots_;
  std::int64_t taken_ = 0;
  std::int64_t started_ = 0;
  std::int64_t submitted_ = 0;
  bool stopped_ = false;
  std::vector<std::thread> threads_;
};

// The pool over a normalization step that turns a photo file (its path, or whatever Input names it by)
// into a Result (a stored-photo value with its verdict, say). The step runs on the workers, several at
// once: it must not share unguarded state between calls.
template <typename Result, typename Input = std::string>
class NormalizePool {
 public:
  using Normalize = std::function<Result(const Input& photo)>;

  explicit NormalizePool(Normalize normalize, int workers = DefaultNormalizeWorkers(),
                         int photosPerWorker = kPhotosPerWorker)
      : normalize_(std::move(normalize)), workers_(workers, photosPerWorker) {
    results_.resize(static_cast<std::size_t>(workers_.Capacity()));  // before any job can write one
  }

  int Capacity() const { return workers_.Capacity(); }
  int Workers() const { return workers_.Workers(); }
  bool Full() const { return workers_.Full(); }
  bool Empty() const { return workers_.Empty(); }

  // Queues a photo file. False after a stop or when full (take a result first).
  bool Submit(Input photo) {
    return workers_.Submit([this, photo = std::move(photo)](int slot) { results_[slot] = normalize_(photo); });
  }

  // The result of the oldest photo not yet taken, waiting for it; nullopt when nothing is in flight or
  // after a stop. An exception of the normalization step comes out in its photo's turn.
  std::optional<Result> Next() {
    const std::optional<int> slot = workers_.TakeOldest();
    if (!slot) return std::nullopt;
    std::optional<Result> result = std::move(results_[*slot]);
    results_[*slot].reset();
    return result;
  }

  void Stop() { workers_.Stop(); }

 private:
  Normalize normalize_;
  std::vector<std::optional<Result>> results_;  // per slot; written by the job, read once it is taken
  OrderedWorkers workers_;                      // last: joined before the results and the step go
};

}  // namespace photoimport
