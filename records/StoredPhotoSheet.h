// The contact sheet of the photos the database holds (card-photo sheet): for a class teacher to check the
// faces against the names of one category or one department, whoever stored them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/Session.h"
#include "records/ContactSheet.h"

namespace photoimport {

struct StoredSheetChoice {
  std::optional<long long> category;       // pe_dzlx
  std::optional<std::string> department;   // with a category: compared as the run compares it
};

// The readers a run could import (a card number, neither expired nor cancelled) of the choice, by card
// number, each with its trimmed name and department, read by the selection of an import run
// (data::SelectionStatement). Only these are selected: the photos are read one by one (AddStoredPhoto), so
// the sheet never holds more than one of them. Throws data::DbError.
std::vector<SheetReader> ReadersForStoredSheet(data::Session& session, const StoredSheetChoice& choice);

// Reads the reader's photo and adds the reader to the sheet: OnFile with the photo, NoPhoto without one,
// Failed with the reason when it cannot be read. Returns the outcome (and the reason of a failure).
SheetOutcome AddStoredPhoto(data::Session& session, SheetReader reader, ContactSheet& sheet, std::string& reason);

}  // namespace photoimport
