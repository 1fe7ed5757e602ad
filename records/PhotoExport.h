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

// The card numbers of the readers with a photo. Only the card numbers are selected: the photos are read
// one by one, so an export never holds more than one of them.
std::vector<std::string> ReadersWithPhoto(data::Session& session);

enum class Exported { Written, EmptyValue, Failed };

// Writes one reader's photo into the export's files; on failure, reason says why.
Exported ExportReader(data::Session& session, PhotoBackup& files, const std::string& cardNumber, std::string& reason);

}  // namespace photoimport
