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

// The lines as sent and the values bound to their '?' markers.
struct Statement {
  std::vector<std::string> lines;
  std::vector<data::Param> params;
};

// "select pe_id,pe_name" + the identifier as sNo, normal readers only, restricted as asked. The category
// number is written in decimal; the department is bound as a parameter, so any text (quotes and
// backslashes included) selects what it says whatever the server's string settings, and both sides are
// compared without their trailing blanks, so a name read from a fixed-width column still matches.
Statement BuildSelection(const SelectionOptions& options);

}  // namespace photoimport
