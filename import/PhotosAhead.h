// The planned readers' photos, normalized ahead of the run on a pool of workers: while the run previews
// and stores one reader's photo, the workers read, decode and normalize the photos of the readers after
// it, each photo whole on one worker's thread (imaging::PhotoThreads::CallingThread). The photos come back
// in reader order, whatever order the workers finish in; at most the pool's slots are held at once.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "imaging/PhotoStream.h"
#include "import/NormalizePool.h"
#include "import/ReaderPlan.h"

namespace photoimport {

// One reader's photo: the stored-photo value, or why its file did not become one.
struct NormalizedPhoto {
  imaging::PhotoFailure failure = imaging::PhotoFailure::None;
  std::string reason;            // the source's own words for a failure (an archive's entry), else empty
  imaging::MemoryStream stream;  // the photo when failure is None
};

class PhotosAhead {
 public:
  // Runs on the workers, several at once: it must not share unguarded state between calls.
  using Normalize = std::function<NormalizedPhoto(const PlannedReader& reader)>;

  // The photos of the readers of `plan` that take a file (FileChoice::Found). jobs: the workers, 0 for
  // one per core.
  PhotosAhead(const std::vector<PlannedReader>& plan, Normalize normalize, int jobs);

  // The photo of the next reader that takes a file, in plan order, waiting for it. Never throws for a
  // failure of the photo.
  NormalizedPhoto Next();
  // No further photo is started; photos being normalized run to their end and are dropped.
  void Stop() { pool_.Stop(); }

 private:
  void SubmitWhileSlotsAreFree();

  const std::vector<PlannedReader>& plan_;
  std::size_t nextToSubmit_ = 0;
  NormalizePool<NormalizedPhoto, PlannedReader> pool_;  // last: its workers end before the plan goes
};

}  // namespace photoimport
