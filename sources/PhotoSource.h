// Where a run's photo files come from: a folder, or a zip archive whose entries stand for the folder's
// files. The run lists the names once (for the plan and the report) and reads one file at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/PhotoStream.h"
#include "import/PhotoLookup.h"

namespace photoimport {

class PhotoSource {
 public:
  virtual ~PhotoSource() = default;
  // The picture names, looked up by the naming rules and the mapping file.
  virtual const PhotoFolder& Listing() const = 0;
  // Reads one listed file (its name as Listing gives it) within the safe-reading limits. On failure the
  // PhotoFailure says why, and `reason` too when the failure has words of its own (an archive's).
  virtual imaging::PhotoFailure Read(const std::string& name, std::vector<std::uint8_t>& bytes,
                                     std::string& reason) = 0;
  // What the staff should know of the source before the run (an archive inside an archive).
  virtual std::vector<std::string> Warnings() const { return {}; }
};

// The folder field's source: a zip archive for a ".zip" path, else the folder. nullptr, with the reason,
// for an archive that cannot be opened; a folder that cannot be listed lists as empty (Listing().Listed()).
std::unique_ptr<PhotoSource> OpenPhotoSource(const std::string& folder, std::string& problem);

}  // namespace photoimport
