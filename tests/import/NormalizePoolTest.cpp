// The pool of normalizing workers: results in submission order whatever order the workers finish in, a
// bounded number of photos in flight, a stop that hands nothing back, failures of the step passed on in
// their turn, and the real normalization through it. Steps that must finish in a given order wait for
// each other explicitly; nothing here depends on timing.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "imaging/PhotoStream.h"
#include "import/NormalizePool.h"

namespace photoimport {
namespace {

// A gate that steps wait at until the test opens it.
class Gate {
 public:
  void Open() { opened_.set_value(); }
  void Wait() const { opening_.wait(); }

 private:
  std::promise<void> opened_;
  std::shared_future<void> opening_ = opened_.get_future().share();
};

// Waits until as many steps as it was made for have arrived. Not std::latch: that waits through
// std::atomic's wait, which in the MinGW build's C++ library (GCC 12) can miss its wake-up and sleep on.
class Arrivals {
 public:
  explicit Arrivals(int expected) : missing_(expected) {}
  void Arrive() {
    std::lock_guard lock(mutex_);
    if (--missing_ == 0) allArrived_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    allArrived_.wait(lock, [this] { return missing_ <= 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable allArrived_;
  int missing_;
};

// Items "slow N" wait until item N + 1 (a fast one) has finished, so every slow item finishes after the
// fast item submitted behind it; the finishing order is recorded.
TEST(NormalizePool, HandsResultsBackInSubmissionOrderWhenLaterOnesFinishFirst) {
  constexpr int kItems = 8;
  std::vector<Gate> finished(kItems + 1);
  std::mutex orderMutex;
  std::vector<int> finishingOrder;
  NormalizePool<std::string> pool(
      [&](const std::string& path) {
        const int item = std::stoi(path.substr(path.find(' ') + 1));
        if (path.starts_with("slow")) finished[item + 1].Wait();
        {
          std::lock_guard lock(orderMutex);
          finishingOrder.push_back(item);
        }
        finished[item].Open();
        return "done " + path;
      },
      2);
  std::vector<std::string> results;
  int submitted = 0;
  while (static_cast<int>(results.size()) < kItems) {
    for (; submitted < kItems && !pool.Full(); ++submitted)
      ASSERT_TRUE(pool.Submit((submitted % 2 ? "fast " : "slow ") + std::to_string(submitted)));
    const std::optional<std::string> result = pool.Next();
    ASSERT_TRUE(result);
    results.push_back(*result);
  }
  EXPECT_FALSE(pool.Next());  // nothing in flight
  for (int i = 0; i < kItems; ++i)
    EXPECT_EQ(results[i], "done " + std::string(i % 2 ? "fast " : "slow ") + std::to_string(i));
  const std::vector<int> expectedFinishing = {1, 0, 3, 2, 5, 4, 7, 6};
  EXPECT_EQ(finishingOrder, expectedFinishing);
}

TEST(NormalizePool, HoldsAtMostItsCapacityInFlight) {
  const struct {
    int workers, perWorker, capacity;
  } cases[] = {{1, 2, 2}, {2, 2, 4}, {3, 1, 3}, {0, 2, 2}, {2, 0, 2}};
  for (const auto& c : cases) {
    Gate release;
    NormalizePool<int> pool(
        [&](const std::string&) {
          release.Wait();
          return 1;
        },
        c.workers, c.perWorker);
    EXPECT_EQ(pool.Capacity(), c.capacity) << c.workers << " x " << c.perWorker;
    int accepted = 0;
    while (pool.Submit("photo")) ++accepted;
    EXPECT_EQ(accepted, c.capacity) << c.workers << " x " << c.perWorker;
    EXPECT_TRUE(pool.Full());
    release.Open();
    ASSERT_TRUE(pool.Next());
    EXPECT_FALSE(pool.Full());
    EXPECT_TRUE(pool.Submit("one more"));
  }
}

// Both workers hold a photo when the stop comes; the photos queued behind them are never started, the
// two held are let finish, nothing is handed back and the pool takes nothing more.
TEST(NormalizePool, StopHandsNothingBackAndDropsWhatNoWorkerHasStarted) {
  Gate release;
  Arrivals bothHeld(2);
  std::atomic<int> started = 0;
  std::atomic<int> ended = 0;
  {
    NormalizePool<int> pool(
        [&](const std::string&) {
          ++started;
          bothHeld.Arrive();
          release.Wait();
          ++ended;
          return 7;
        },
        2);
    for (int i = 0; i < pool.Capacity(); ++i) ASSERT_TRUE(pool.Submit("photo " + std::to_string(i)));
    bothHeld.Wait();
    pool.Stop();
    release.Open();
    EXPECT_FALSE(pool.Next());
    EXPECT_FALSE(pool.Submit("after the stop"));
    EXPECT_FALSE(pool.Next());
  }  // joins the workers
  EXPECT_EQ(started, 2);
  EXPECT_EQ(ended, 2);
}

// The caller waits for the oldest photo when the stop comes from another thread (a window's stop
// button, say): the wait ends with nothing.
TEST(NormalizePool, StopFromAnotherThreadEndsAWaitForTheOldest) {
  Gate release;
  Arrivals held(1);
  NormalizePool<int> pool(
      [&](const std::string&) {
        held.Arrive();
        release.Wait();
        return 1;
      },
      1);
  ASSERT_TRUE(pool.Submit("photo"));
  std::thread stopper([&] {
    held.Wait();
    pool.Stop();
  });
  EXPECT_FALSE(pool.Next());
  stopper.join();
  release.Open();
}

TEST(NormalizePool, AFailingStepComesOutInItsTurnAndTheOthersGoOn) {
  for (const int workers : {0, 1, 2}) {
    NormalizePool<std::string> pool(
        [](const std::string& path) -> std::string {
          if (path == "damaged") throw std::runtime_error("cannot read " + path);
          return "normalized " + path;
        },
        workers);
    ASSERT_TRUE(pool.Submit("first"));
    ASSERT_TRUE(pool.Submit("damaged"));
    EXPECT_EQ(pool.Next(), "normalized first") << workers;
    ASSERT_TRUE(pool.Submit("third"));
    EXPECT_THROW(pool.Next(), std::runtime_error) << workers;
    EXPECT_EQ(pool.Next(), "normalized third") << workers;
    EXPECT_TRUE(pool.Empty());
  }
}

TEST(NormalizePool, WithoutWorkersTheStepRunsOnTheCallersThreadWhenTaken) {
  std::vector<std::thread::id> threads;
  NormalizePool<int> pool(
      [&](const std::string&) {
        threads.push_back(std::this_thread::get_id());
        return 1;
      },
      0);
  ASSERT_TRUE(pool.Submit("a"));
  ASSERT_TRUE(pool.Submit("b"));
  EXPECT_TRUE(threads.empty());
  EXPECT_TRUE(pool.Next());
  EXPECT_EQ(threads, std::vector<std::thread::id>{std::this_thread::get_id()});
}

// The real normalization, each photo on one worker thread, several at once: the stored values are those
// of normalizing the files one by one (also which files fail).
TEST(NormalizePool, PooledNormalizationStoresWhatOnePhotoAtATimeStores) {
  struct Photo {
    bool usable = false;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<std::string> files;
  for (const char* suite : {"jpeg", "pngsuite", "bmpsuite/g"})
    for (const auto& entry : std::filesystem::directory_iterator(std::string(CARDPHOTO_TESTDATA_DIR) + "/" + suite))
      if (entry.is_regular_file()) files.push_back(entry.path().string());
  ASSERT_GE(files.size(), 100u);
  NormalizePool<Photo> pool(
      [](const std::string& path) {
        Photo photo;
        imaging::MemoryStream stream;
        photo.usable = imaging::MakePhotoStream(path, stream, imaging::PhotoThreads::CallingThread);
        photo.bytes = std::move(stream.bytes);
        return photo;
      },
      3);
  std::size_t submitted = 0;
  for (std::size_t taken = 0; taken < files.size(); ++taken) {
    while (submitted < files.size() && pool.Submit(files[submitted])) ++submitted;
    const std::optional<Photo> photo = pool.Next();
    ASSERT_TRUE(photo);
    imaging::MemoryStream expected;
    ASSERT_EQ(photo->usable, imaging::MakePhotoStream(files[taken], expected)) << files[taken];
    if (photo->usable) {
      EXPECT_EQ(photo->bytes, expected.bytes) << files[taken];
    }
  }
}

}  // namespace
}  // namespace photoimport
