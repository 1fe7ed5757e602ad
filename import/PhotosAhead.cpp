#include "import/PhotosAhead.h"

#include <new>
#include <optional>
#include <utility>

namespace photoimport {

PhotosAhead::PhotosAhead(const std::vector<PlannedReader>& plan, Normalize normalize, int jobs)
    : plan_(plan), pool_(std::move(normalize), jobs > 0 ? jobs : DefaultNormalizeWorkers()) {}

NormalizedPhoto PhotosAhead::Next() {
  SubmitWhileSlotsAreFree();
  std::optional<NormalizedPhoto> photo;
  try {
    photo = pool_.Next();
  } catch (const std::bad_alloc&) {
    return {imaging::PhotoFailure::PictureTooLarge, {}};
  } catch (...) {
    return {imaging::PhotoFailure::DamagedPicture, {}};
  }
  // Refilled at once: the workers go on with the readers after this one while the run stores its photo.
  SubmitWhileSlotsAreFree();
  if (!photo) return {imaging::PhotoFailure::DamagedPicture, {}};  // after a stop: never reported
  return std::move(*photo);
}

void PhotosAhead::SubmitWhileSlotsAreFree() {
  for (; nextToSubmit_ < plan_.size() && !pool_.Full(); ++nextToSubmit_) {
    const PlannedReader& reader = plan_[nextToSubmit_];
    if (reader.choice == FileChoice::Found && !pool_.Submit(reader)) return;  // stopped
  }
}

}  // namespace photoimport
