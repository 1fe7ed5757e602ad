// What a run does with each reader's photo on one of its connections: store it on a reader still without
// a photo, replace a bitmap (kept first in the run's backup), or, in a dry run, only read what a store
// would find. Several connections run the action at once: it shares no unguarded state.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "data/PhotoStore.h"
#include "data/Session.h"

namespace photoimport {

class RunBackup;

using StoreAction =
    std::function<data::StoreResult(data::Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo)>;

enum class StoreMode {
  NewOnly,  // only on readers still without a photo: a photo that arrived meanwhile is kept
  Replace,  // also over a bitmap (a value the stored-photo format reads as a BMP); never over another format
};

// The run's store. With Replace, the current photo is read and judged first: none is stored as NewOnly
// does; a bitmap is kept in `backup` (when there is one) and then replaced only while it is still that
// value; a backup that cannot be written fails the reader (BackupFailed) and nothing is replaced.
StoreAction StoreActionFor(StoreMode mode, RunBackup* backup);

// A dry run's store: the same reads and judgements, no write. Stored when the store would store the photo.
StoreAction PredictActionFor(StoreMode mode);

}  // namespace photoimport
