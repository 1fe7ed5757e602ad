#include "import/SelectionStatement.h"

namespace photoimport {

const char* ColumnName(IdentifierColumn column) {
  switch (column) {
    case IdentifierColumn::IdentityCard: return "pe_shenfenzheng";
    case IdentifierColumn::CampusCard: return "pe_yktno";
    case IdentifierColumn::Name: return "pe_name";
    case IdentifierColumn::CardNumber: break;
  }
  return "pe_id";
}

Statement BuildSelection(const SelectionOptions& options) {
  Statement statement;
  statement.lines = {
      "select pe_id,pe_name",
      std::string(",") + ColumnName(options.identifier) + " as sNo",
      "from lib_people where pe_id<>'' and pe_mark<>'过期' and pe_mark<>'注销' ",
  };
  if (options.skipReadersWithPhoto) statement.lines.push_back("  and pe_photo is null");
  if (options.category) {
    statement.lines.push_back("  and pe_dzlx=" + std::to_string(*options.category));
    // A department listed from a fixed-width column carries trailing blanks, and servers differ in how a
    // char column meets a text value (PostgreSQL drops the column's blanks, not the value's): trimming
    // both sides gives the same answer everywhere.
    if (options.department) {
      statement.lines.push_back("  and rtrim(pe_deptment)=rtrim(?)");
      statement.params.emplace_back(*options.department);
    }
  }
  return statement;
}

}  // namespace photoimport
