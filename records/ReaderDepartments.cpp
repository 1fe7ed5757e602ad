#include "records/ReaderDepartments.h"

#include "app/Text.h"

namespace photoimport {

ReaderDepartments ReaderDepartments::Read(data::Session& session) {
  ReaderDepartments departments;
  std::unordered_map<std::string, std::uint32_t> indexOf{{std::string(), 0}};
  auto query = session.Open({"select pe_id,pe_deptment from lib_people where pe_id<>''"});
  for (; !query->Eof(); query->Next()) {
    const std::string name = app::Trim(query->Text("pe_deptment"));
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
