#include "records/ReaderDepartments.h"

#include "app/Text.h"
#include "data/ReaderStatements.h"

namespace photoimport {

ReaderDepartments ReaderDepartments::Read(data::Session& session, const ImportOptions& options) {
  // The restrictions as the run applies them: a category (and a department in it) only when matching by name.
  const bool restricted = options.identifier == IdentifierColumn::Name && options.categoryChoice == CategoryChoice::One;
  const data::Statement statement = data::SelectionStatement(
      session.dialect(), kDepartmentColumn, options.skipReadersWithPhoto,
      restricted ? std::optional<long long>(options.category) : std::nullopt,
      restricted ? options.department : std::nullopt);
  ReaderDepartments departments;
  std::unordered_map<std::string, std::uint32_t> indexOf{{std::string(), 0}};
  auto query = session.Open(statement);
  for (; !query->Eof(); query->Next()) {
    const std::string name = app::Trim(query->Text("sNo"));
    const auto [it, added] = indexOf.try_emplace(name, static_cast<std::uint32_t>(departments.names_.size()));
    if (added) departments.names_.push_back(name);
    departments.byCard_[app::Trim(query->Text("pe_id"))] = it->second;
  }
  query->Close();
  return departments;
}

const std::string& ReaderDepartments::Of(const std::string& cardNumber) const {
  const auto it = byCard_.find(cardNumber);
  return names_[it == byCard_.end() ? 0 : it->second];
}

}  // namespace photoimport
