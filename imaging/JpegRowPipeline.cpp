#include "imaging/JpegRowPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace imaging {
namespace {

// Rows handed over per lock: few enough that the consumer starts early, many enough that the threads
// seldom wake each other.
constexpr int kBatchRows = 8;
constexpr int kRingRows = 8 * kBatchRows;
// Below this many pixels a picture decodes in about the time it takes to start a thread and hand rows
// over; it is decoded and consumed on the calling thread.
constexpr long long kThreadedPixels = 512 * 1024;

class RowRing {
 public:
  RowRing(int width, int height)
      : width_(static_cast<std::size_t>(width)), height_(height),
        rows_(static_cast<std::size_t>(std::min(height, kRingRows)) * width_) {}

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
    changed_.notify_all();
  }

 private:
  std::uint32_t* Slot(int row) {
    const std::size_t ringRows = rows_.size() / std::max<std::size_t>(width_, 1);
    return rows_.data() + (static_cast<std::size_t>(row) % ringRows) * width_;
  }

  bool WaitForFreeRows(int end) {
    std::unique_lock lock(mutex_);
    const int ringRows = std::min(height_, kRingRows);
    changed_.wait(lock, [&] { return stopped_ || end - consumed_ <= ringRows; });
    return !stopped_;
  }

  void Publish(int produced) {
    std::lock_guard lock(mutex_);
    produced_ = produced;
    changed_.notify_all();
  }

  void Close(bool whole) {
    std::lock_guard lock(mutex_);
    closed_ = true;
    whole_ = whole;
    changed_.notify_all();
  }

  // Rows [0, result) are ready; result <= row means no more rows will come.
  int WaitForRows(int row) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return produced_ > row || closed_; });
    return produced_;
  }

  void Release(int consumed) {
    std::lock_guard lock(mutex_);
    consumed_ = consumed;
    changed_.notify_all();
  }

  std::size_t width_;
  int height_;
  std::vector<std::uint32_t> rows_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int produced_ = 0;
  int consumed_ = 0;
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
