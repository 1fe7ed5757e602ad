#include "import/SelectionStatement.h"

namespace photoimport {

std::string QuotedLiteral(const std::string& value) {
  std::string literal = "'";
  for (char c : value) literal += c == '\'' ? std::string("''") : std::string(1, c);
  return literal + "'";
}

const char* ColumnName(IdentifierColumn column) {
  switch (column) {
    case IdentifierColumn::IdentityCard: return "pe_shenfenzheng";
    case IdentifierColumn::CampusCard: return "pe_yktno";
    case IdentifierColumn::Name: return "pe_name";
    case IdentifierColumn::CardNumber: break;
  }
  return "pe_id";
}

std::vector<std::string> BuildSelection(const SelectionOptions& options) {
  std::vector<std::string> lines = {
      "select pe_id,pe_name",
      std::string(",") + ColumnName(options.identifier) + " as sNo",
      "from lib_people where pe_id<>'' and pe_mark<>'过期' and pe_mark<>'注销' ",
  };
  if (options.skipReadersWithPhoto) lines.push_back("  and pe_photo is null");
  if (options.category) {
    lines.push_back("  and pe_dzlx=" + std::to_string(*options.category));
    // The department goes in as a quoted literal, quotes doubled, not as a parameter: a name read from a
    // fixed-width column carries its trailing blanks, and only a literal compares equal to it on every
    // server (PostgreSQL compares a char column with a text parameter after dropping the blanks).
    if (options.department) lines.push_back("  and pe_deptment=" + QuotedLiteral(*options.department));
  }
  return lines;
}

}  // namespace photoimport
