#include "import/SelectionStatement.h"

#include "data/ReaderStatements.h"

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

Statement BuildSelection(const SelectionOptions& options, data::SqlDialect dialect) {
  return data::SelectionStatement(dialect, ColumnName(options.identifier), options.skipReadersWithPhoto,
                                  options.category,
                                  options.category ? options.department : std::optional<std::string>());
}

Statement BuildReadersWithPhotoSelection(const SelectionOptions& options, data::SqlDialect dialect) {
  return data::ReadersWithPhotoSelection(dialect, ColumnName(options.identifier), options.category,
                                         options.category ? options.department : std::optional<std::string>());
}

}  // namespace photoimport
