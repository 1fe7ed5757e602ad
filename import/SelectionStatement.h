// The selection statement of an import run: the readers whose photos a run looks for.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace photoimport {

// The column whose value the photo file names carry.
enum class IdentifierColumn { CardNumber, IdentityCard, CampusCard, Name };

// The SQL name of the column ("pe_id", "pe_shenfenzheng", "pe_yktno", "pe_name").
const char* ColumnName(IdentifierColumn column);

struct SelectionOptions {
  IdentifierColumn identifier = IdentifierColumn::CardNumber;
  bool skipReadersWithPhoto = true;
  std::optional<long long> category;      // only readers of this category (pe_dzlx)
  std::optional<std::string> department;  // only with a category: readers of this department, as stored
};

// "select pe_id,pe_name" + the identifier as sNo, normal readers only, restricted as asked. The category
// number is written in decimal, the department as a quoted literal with its quotes doubled, so any text (a
// quote included) selects what it says.
std::vector<std::string> BuildSelection(const SelectionOptions& options);

// A text as an SQL string literal: in single quotes, each quote doubled.
std::string QuotedLiteral(const std::string& value);

}  // namespace photoimport
