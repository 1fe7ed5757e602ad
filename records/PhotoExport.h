// Exporting stored photos: every reader's photo written as a file named by the card number, byte for
// byte, into one folder (a full photo backup that a restore writes back).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "data/Session.h"
#include "records/PhotoBackup.h"

namespace photoimport {

// A folder that holds files already would mix two backups (or refuse a card number written before).
bool IsNewOrEmptyFolder(const std::filesystem::path& folder);

// The readers with a photo: card numbers as the reader table holds them (trailing blanks aside, leading
// ones kept, so that the reader is found by it again) and names. Only these are selected: the photos are
// read one by one, so an export never holds more than one of them.
std::vector<PhotoOwner> ReadersWithPhoto(data::Session& session);

enum class Exported {
  Written,
  WrittenUnderOtherName,  // the card number is too long for a file name: see the manifest
  EmptyValue,
  Failed,
};

// Writes one reader's photo, with its record, into the export's files; on failure, reason says why.
Exported ExportReader(data::Session& session, PhotoBackup& files, const PhotoOwner& reader, std::string& reason);

}  // namespace photoimport
