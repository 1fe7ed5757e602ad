#include "import/ReaderPipeline.h"

#include <new>
#include <optional>
#include <utility>

#include "app/Text.h"
#include "import/FailureReasons.h"
#include "import/StoreReason.h"

namespace photoimport {
namespace {

// Readers whose outcome is known may wait behind a store in flight; past this many the run waits for that
// store before it takes the next reader, so that a store that waits long (a row locked elsewhere) does
// not let the queue grow with the readers of a whole run.
constexpr std::size_t kMostWaiting = 4096;

// A store that found the connection gone for good may have been carried out before its answer was lost,
// like one whose answer never came: neither is a failure, both are unknown.
ReaderOutcome OutcomeOf(data::StoreOutcome outcome) {
  switch (outcome) {
    case data::StoreOutcome::Stored: return ReaderOutcome::Stored;
    case data::StoreOutcome::ConnectionLost:
    case data::StoreOutcome::Unknown: return ReaderOutcome::Unknown;
    default: return ReaderOutcome::Failed;
  }
}

}  // namespace

// What the workers make of one reader's file: the stored-photo value, or why the file did not become one.
struct ReaderPipeline::Photo {
  imaging::PhotoFailure failure = imaging::PhotoFailure::None;
  std::string reason;  // the source's own words for a failure (an archive's), else empty
  imaging::MemoryStream stream;
};

// A reader in the queue.
struct ReaderPipeline::Queued {
  FinishedReader reader;
  imaging::MemoryStream photo;  // its normalized photo, read by its store, kept until it leaves
  bool stored = false;          // it went to a store (its outcome is the store's)
  int lane = -1;                // the lane its store is in flight on; -1 once its outcome is known
  bool cancelled = false;       // its store was asked to end (once: a cancel to a frozen server never returns)
};

ReaderPipeline::ReaderPipeline(StoreLanes& lanes, ImportObserver& observer, PhotoSource& source,
                               const std::vector<PlannedReader>& plan, int jobs, ImportResult& result)
    : lanes_(lanes), observer_(observer), source_(source), plan_(plan), result_(result) {
  // Each photo whole on the worker's thread: the source reads safely from several threads at once.
  auto normalize = [this](const PlannedReader& reader) {
    Photo photo;
    std::vector<std::uint8_t> bytes;
    photo.failure = source_.Read(reader.file.name, bytes, photo.reason);
    if (photo.failure == imaging::PhotoFailure::None)
      photo.failure = imaging::MakePhotoStreamFromBytes(reader.file.name, std::move(bytes), photo.stream,
                                                        imaging::PhotoThreads::CallingThread);
    return photo;
  };
  photos_ = std::make_unique<NormalizePool<Photo, PlannedReader>>(normalize, jobs > 0 ? jobs : DefaultNormalizeWorkers());
}

// Normally End() has emptied the queue. When the run ends by an exception instead (an observer's), the
// stores in flight still read their photos from the queue: they end before it goes.
ReaderPipeline::~ReaderPipeline() {
  photos_->Stop();
  for (const Queued& queued : queue_)
    if (queued.lane >= 0)
      while (!lanes_.Result(queued.lane, kResponsiveInterval)) {
      }
}

void ReaderPipeline::Add(const ReaderRow& row, const PlannedReader& plan) {
  FinishedReader reader{{}, row.cardNumber, row.name, row.identifier, {}, ReaderOutcome::NoFile, plan.reason};
  switch (plan.choice) {
    case FileChoice::NoIdentifier: reader.reason = kNoIdentifierReason; return Queue(std::move(reader));
    case FileChoice::NoFile: return Queue(std::move(reader));
    case FileChoice::Refused: reader.outcome = ReaderOutcome::Failed; return Queue(std::move(reader));
    case FileChoice::Shared:
    case FileChoice::Several:
    case FileChoice::Found: break;
  }
  reader.path = JoinPath(source_.Listing().folder(), plan.file.shown);
  reader.fileName = plan.file.name;
  if (plan.choice != FileChoice::Found) {
    reader.outcome = ReaderOutcome::Failed;
    reader.reason = plan.choice == FileChoice::Shared ? kSharedFileReason : plan.reason;
    return Queue(std::move(reader));
  }
  observer_.CurrentReader(reader.path, row.cardNumber, row.name);
  observer_.ProcessEvents();
  Photo photo = NextPhoto();
  if (photo.failure != imaging::PhotoFailure::None) {
    reader.outcome = ReaderOutcome::Failed;
    reader.reason = photo.reason.empty() ? PhotoFailureReason(photo.failure) : photo.reason;
    return Queue(std::move(reader));
  }
  observer_.Preview(photo.stream.bytes);  // shown at once, while the readers before may still be stored
  StartStore(reader, photo.stream);
}

void ReaderPipeline::End() {
  photos_->Stop();
  while (!queue_.empty()) WaitForOldestStore();
}

ReaderPipeline::Photo ReaderPipeline::NextPhoto() {
  SubmitAhead();
  std::optional<Photo> photo;
  try {
    photo = photos_->Next();
  } catch (const std::bad_alloc&) {
    return {imaging::PhotoFailure::PictureTooLarge, {}, {}};
  } catch (...) {
    return {imaging::PhotoFailure::DamagedPicture, {}, {}};
  }
  // Refilled at once: the workers go on with the readers after this one while its photo is stored.
  SubmitAhead();
  if (!photo) return {imaging::PhotoFailure::DamagedPicture, {}, {}};  // after a stop: never reported
  return std::move(*photo);
}

void ReaderPipeline::SubmitAhead() {
  for (; nextToSubmit_ < plan_.size() && !photos_->Full(); ++nextToSubmit_) {
    const PlannedReader& reader = plan_[nextToSubmit_];
    if (reader.choice == FileChoice::Found && !photos_->Submit(reader)) return;  // stopped
  }
}

void ReaderPipeline::Queue(FinishedReader reader) {
  queue_.push_back(Queued{std::move(reader), {}, false, -1, false});
  ReportReady();
  if (queue_.size() > kMostWaiting) WaitForOldestStore();
}

bool ReaderPipeline::StartStore(FinishedReader& reader, imaging::MemoryStream& photo) {
  std::optional<int> lane;
  while (!connectionLost_ && !((lane = lanes_.FreeLane()) && !StoreOfCardInFlight(reader.cardNumber)))
    WaitForOldestStore();
  if (connectionLost_) return false;
  // After a store given up on because the server did not even answer its cancel, a stop asked for is not
  // kept waiting by a new store (its connection would have to be made again first).
  if (serverSilent_ && observer_.ShouldCancelStore()) {
    reader.outcome = ReaderOutcome::Failed;
    reader.reason = StoreFailureReason({data::StoreOutcome::Cancelled, {}});
    queue_.push_back(Queued{std::move(reader), std::move(photo), true, -1, true});
    ReportReady();
    return true;
  }
  queue_.push_back(Queued{std::move(reader), std::move(photo), true, *lane, false});
  // The queue's elements stay in place while others are added and removed at its ends.
  lanes_.Start(*lane, queue_.back().reader.cardNumber, queue_.back().photo.bytes);
  return true;
}

// Two stores of one card number (letter case and trailing blanks aside, as a server may compare them)
// never run at once: each reads what the other writes.
bool ReaderPipeline::StoreOfCardInFlight(const std::string& cardNumber) const {
  const std::string compared = FoldName(app::Trim(cardNumber));
  for (const Queued& queued : queue_)
    if (queued.lane >= 0 && FoldName(app::Trim(queued.reader.cardNumber)) == compared) return true;
  return false;
}

void ReaderPipeline::ReportReady() {
  for (; !queue_.empty() && queue_.front().lane < 0; queue_.pop_front()) Report(queue_.front());
}

void ReaderPipeline::WaitForOldestStore() {
  ReportReady();
  if (queue_.empty()) return;
  Queued& oldest = queue_.front();  // the oldest store in flight
  std::optional<data::StoreResult> stored;
  while (!(stored = lanes_.Result(oldest.lane, kResponsiveInterval))) {
    observer_.ProcessEvents();
    // A cancel (the window's exit, Ctrl-C) ends every store in flight.
    if (observer_.ShouldCancelStore())
      for (Queued& queued : queue_)
        if (queued.lane >= 0 && !std::exchange(queued.cancelled, true)) lanes_.Cancel(queued.lane);
  }
  oldest.lane = -1;
  oldest.reader.outcome = OutcomeOf(stored->outcome);
  oldest.reader.reason = oldest.reader.outcome == ReaderOutcome::Unknown
                             ? kUnknownOutcomeReason + ("（" + stored->driverText + "）")
                             : StoreFailureReason(*stored);
  if (stored->outcome == data::StoreOutcome::Unknown) serverSilent_ = true;
  if (stored->outcome == data::StoreOutcome::ConnectionLost && !connectionLost_) {
    connectionLost_ = true;
    result_.error = stored->driverText;
  }
  ReportReady();
}

// Counts the reader, logs a failure (its path, then the reason; kStoreFailurePrefix before a store's), and
// reports the reader's end and the progress.
void ReaderPipeline::Report(Queued& queued) {
  const FinishedReader& reader = queued.reader;
  switch (reader.outcome) {
    case ReaderOutcome::Stored: ++result_.stored; break;
    case ReaderOutcome::NoFile: ++result_.noFile; break;
    case ReaderOutcome::Unknown:
      ++result_.unknown;
      observer_.LogLine(reader.path + " " + reader.reason);
      break;
    case ReaderOutcome::NotReached:
    case ReaderOutcome::HasPhoto: break;  // never in the queue
    case ReaderOutcome::Failed:
      ++result_.failed;
      if (reader.reason.empty()) observer_.LogLine(reader.path + kFailureSuffix);
      else observer_.LogLine(reader.path + (queued.stored ? kStoreFailurePrefix : " ") + reader.reason);
      break;
  }
  observer_.Finished(reader, queued.photo.bytes);
  result_.readers.push_back(reader);
  if (connectionLost_) result_.lastReader = reader;  // so far the last reader handled
  observer_.Progress(++done_, result_.selected);
}

}  // namespace photoimport
