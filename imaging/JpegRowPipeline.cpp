#include "imaging/JpegRowPipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace imaging {
namespace {

// The decoding thread publishes every few rows; a thread that has to wait sleeps until a whole stretch of
// rows is ready (or free), so the two seldom wake each other: every wake-up is a trip through the
// scheduler. The counters are atomics, so neither takes a lock unless it has to sleep.
// The stretch is a sixteenth of the picture, within limits, so that the rows left to resample after
// the last one is decoded stay few.
constexpr int kBatchRows = 8;
constexpr int kMaxWakeRows = 64;
constexpr int kRingRows = 4 * kMaxWakeRows;
// Below this many pixels a picture decodes in about the time it takes to start a thread and hand rows
// over; it is decoded and consumed on the calling thread.
constexpr long long kThreadedPixels = 128 * 1024;
constexpr int kNobodyWaits = 1 << 30;

class RowRing {
 public:
  RowRing(int width, int height)
      : width_(static_cast<std::size_t>(width)), height_(height), ringRows_(std::min(height, kRingRows)),
        wakeRows_(std::clamp(height / 16, kBatchRows, kMaxWakeRows)),
        rows_(static_cast<std::size_t>(ringRows_) * width_) {}

  // Decoding thread: fills the ring batch by batch until every row is read, a row fails or the
  // consumer stops.
  void Produce(JpegScanlineReader& reader) {
    for (int row = 0; row < height_;) {
      const int batch = std::min(kBatchRows, height_ - row);
      if (!WaitForFreeRows(row + batch)) return;
      for (int i = 0; i < batch; ++i) {
        if (!reader.ReadRow(Slot(row + i))) return Close();
      }
      row += batch;
      Advance(produced_, row, consumerNeeds_, consumerWake_);
    }
    Close();
  }

  // Calling thread: consumes rows as they come. False when decoding ended early.
  bool Consume(const std::function<void(const std::uint32_t*)>& consume) {
    for (int row = 0; row < height_;) {
      const int available = WaitForRows(row);
      if (available <= row) return false;
      for (; row < available; ++row) consume(Slot(row));
      Advance(consumed_, row, producerNeeds_, producerWake_);
    }
    return true;
  }

  void Close() {
    std::lock_guard lock(mutex_);
    closed_.store(true);
    consumerWake_.notify_one();
  }

  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_.store(true);
    producerWake_.notify_one();
  }

 private:
  std::uint32_t* Slot(int row) { return rows_.data() + static_cast<std::size_t>(row % ringRows_) * width_; }

  // Moves a counter on and wakes the other thread if it sleeps waiting for this value.
  void Advance(std::atomic<int>& counter, int value, const std::atomic<int>& needed, std::condition_variable& wake) {
    counter.store(value);
    if (value >= needed.load()) {
      std::lock_guard lock(mutex_);
      wake.notify_one();
    }
  }

  bool WaitForFreeRows(int end) {
    if (end - consumed_.load() > ringRows_) {
      std::unique_lock lock(mutex_);
      producerNeeds_.store(std::min(end + wakeRows_, height_) - ringRows_);
      producerWake_.wait(lock, [&] { return stopped_.load() || consumed_.load() >= producerNeeds_.load(); });
      producerNeeds_.store(kNobodyWaits);
    }
    return !stopped_.load();
  }

  // Rows [0, result) are ready; result <= row means no more rows will come.
  int WaitForRows(int row) {
    if (produced_.load() <= row && !closed_.load()) {
      std::unique_lock lock(mutex_);
      consumerNeeds_.store(std::min(row + wakeRows_, height_));
      consumerWake_.wait(lock, [&] { return produced_.load() >= consumerNeeds_.load() || closed_.load(); });
      consumerNeeds_.store(kNobodyWaits);
    }
    return produced_.load();
  }

  std::size_t width_;
  int height_;
  int ringRows_;
  int wakeRows_;
  std::vector<std::uint32_t> rows_;
  std::atomic<int> produced_{0};
  std::atomic<int> consumed_{0};
  std::atomic<int> consumerNeeds_{kNobodyWaits};
  std::atomic<int> producerNeeds_{kNobodyWaits};
  std::atomic<bool> closed_{false};
  std::mutex mutex_;  // only for sleeping and waking
  std::condition_variable consumerWake_;
  std::condition_variable producerWake_;
  std::atomic<bool> stopped_{false};
};

}  // namespace

bool ReadJpegRows(JpegScanlineReader& reader, const std::function<void(const std::uint32_t*)>& consume) {
  for (int y = 0; y < reader.Height(); ++y) {
    const std::uint32_t* row = reader.ReadRowInPlace();
    if (!row) return reader.Finish();
    consume(row);
  }
  return reader.Finish();
}

bool PipeJpegRows(JpegScanlineReader& reader, const std::function<void(const std::uint32_t*)>& consume) {
  if (static_cast<long long>(reader.Width()) * reader.Height() < kThreadedPixels)
    return ReadJpegRows(reader, consume);
  RowRing ring(reader.Width(), reader.Height());
  std::thread decoder;
  try {
    decoder = std::thread([&] {
      try {
        ring.Produce(reader);
      } catch (...) {  // nothing may leave a thread; the consumer sees the rows end early
        ring.Close();
      }
    });
  } catch (const std::system_error&) {
    return ReadJpegRows(reader, consume);  // no thread to be had: one after the other
  }
  bool consumed = false;
  try {
    consumed = ring.Consume(consume);
  } catch (...) {
    ring.Stop();
    decoder.join();
    reader.Finish();
    throw;
  }
  ring.Stop();
  decoder.join();
  return reader.Finish() && consumed;
}

}  // namespace imaging
