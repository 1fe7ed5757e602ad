#include "imaging/JpegRowPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace imaging {
namespace {

// The decoding thread hands rows over in batches; a waiting thread is woken only once a whole stretch of
// rows is ready (or free), so the two threads seldom wake each other: every wake-up costs a trip through
// the scheduler.
constexpr int kBatchRows = 8;
constexpr int kWakeRows = 64;
constexpr int kRingRows = 4 * kWakeRows;
// Below this many pixels a picture decodes in about the time it takes to start a thread and hand rows
// over; it is decoded and consumed on the calling thread.
constexpr long long kThreadedPixels = 512 * 1024;

class RowRing {
 public:
  RowRing(int width, int height)
      : width_(static_cast<std::size_t>(width)), height_(height), ringRows_(std::min(height, kRingRows)),
        rows_(static_cast<std::size_t>(ringRows_) * width_) {}

  // Decoding thread: fills the ring batch by batch until every row is read, a row fails or the
  // consumer stops.
  void Produce(JpegScanlineReader& reader) {
    for (int row = 0; row < height_;) {
      const int batch = std::min(kBatchRows, height_ - row);
      if (!WaitForFreeRows(row + batch)) return;
      for (int i = 0; i < batch; ++i) {
        if (!reader.ReadRow(Slot(row + i))) return Close(false);
      }
      row += batch;
      Publish(row);
    }
    Close(true);
  }

  // Calling thread: consumes rows as they come. False when decoding ended early.
  bool Consume(const std::function<void(const std::uint32_t*)>& consume) {
    for (int row = 0; row < height_;) {
      const int available = WaitForRows(row);
      if (available <= row) return false;
      for (; row < available; ++row) consume(Slot(row));
      Release(row);
    }
    return true;
  }

  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    producerWake_.notify_all();
  }

 private:
  std::uint32_t* Slot(int row) { return rows_.data() + static_cast<std::size_t>(row % ringRows_) * width_; }

  bool WaitForFreeRows(int end) {
    std::unique_lock lock(mutex_);
    if (end - consumed_ > ringRows_) {
      // Wait until a stretch of rows is free, not just the next batch.
      producerNeeds_ = std::min(end + kWakeRows, height_) - ringRows_;
      producerWake_.wait(lock, [&] { return stopped_ || consumed_ >= producerNeeds_; });
      producerNeeds_ = kNobodyWaits;
    }
    return !stopped_;
  }

  void Publish(int produced) {
    std::lock_guard lock(mutex_);
    produced_ = produced;
    if (produced_ >= consumerNeeds_) consumerWake_.notify_one();
  }

  void Close(bool whole) {
    std::lock_guard lock(mutex_);
    closed_ = true;
    whole_ = whole;
    consumerWake_.notify_one();
  }

  // Rows [0, result) are ready; result <= row means no more rows will come.
  int WaitForRows(int row) {
    std::unique_lock lock(mutex_);
    if (produced_ <= row && !closed_) {
      consumerNeeds_ = std::min(row + kWakeRows, height_);
      consumerWake_.wait(lock, [&] { return produced_ >= consumerNeeds_ || closed_; });
      consumerNeeds_ = kNobodyWaits;
    }
    return produced_;
  }

  void Release(int consumed) {
    std::lock_guard lock(mutex_);
    consumed_ = consumed;
    if (consumed_ >= producerNeeds_) producerWake_.notify_one();
  }

  static constexpr int kNobodyWaits = 1 << 30;

  std::size_t width_;
  int height_;
  int ringRows_;
  std::vector<std::uint32_t> rows_;
  std::mutex mutex_;
  std::condition_variable consumerWake_;
  std::condition_variable producerWake_;
  int produced_ = 0;
  int consumed_ = 0;
  int consumerNeeds_ = kNobodyWaits;
  int producerNeeds_ = kNobodyWaits;
  bool closed_ = false;
  bool whole_ = false;
  bool stopped_ = false;
};

bool ConsumeOnThisThread(JpegScanlineReader& reader, const std::function<void(const std::uint32_t*)>& consume) {
  std::vector<std::uint32_t> row(static_cast<std::size_t>(reader.Width()));
  for (int y = 0; y < reader.Height(); ++y) {
    if (!reader.ReadRow(row.data())) return reader.Finish();
    consume(row.data());
  }
  return reader.Finish();
}

}  // namespace

bool PipeJpegRows(JpegScanlineReader& reader, const std::function<void(const std::uint32_t*)>& consume) {
  if (static_cast<long long>(reader.Width()) * reader.Height() < kThreadedPixels)
    return ConsumeOnThisThread(reader, consume);
  RowRing ring(reader.Width(), reader.Height());
  std::thread decoder;
  try {
    decoder = std::thread([&] { ring.Produce(reader); });
  } catch (const std::system_error&) {
    return ConsumeOnThisThread(reader, consume);  // no thread to be had: one after the other
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
