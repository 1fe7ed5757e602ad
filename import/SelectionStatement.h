// The selection statement of an import run: the readers whose photos a run looks for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/Session.h"

namespace photoimport {

// The column whose value the photo file names carry.
enum class IdentifierColumn { CardNumber, IdentityCard, CampusCard, Name };

// The SQL name of the column ("pe_id", "pe_shenfenzheng", "pe_yktno", "pe_name").
const char* ColumnName(IdentifierColumn column);

struct SelectionOptions {
  IdentifierColumn identifier = IdentifierColumn::CardNumber;
  bool skipReadersWithPhoto = true;
  std::optional<long long> category;      // only readers of this category (pe_dzlx)
  std::optional<std::string> department;  // only with a category: readers of this department
};

using data::Statement;

// The selection as the options ask for it, in the server's dialect (data::SelectionStatement). The
// department is bound as a parameter, so any text (quotes and backslashes included) selects what it says
// whatever the server's string settings.
Statement BuildSelection(const SelectionOptions& options, data::SqlDialect dialect);
// The readers the selection passes over because they have a photo (data::ReadersWithPhotoSelection).
Statement BuildReadersWithPhotoSelection(const SelectionOptions& options, data::SqlDialect dialect);

}  // namespace photoimport
