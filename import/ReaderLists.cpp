#include "import/ReaderLists.h"

#include <charconv>
#include <exception>
#include <memory>
#include <stdexcept>

#include "app/Text.h"
#include "data/ReaderStatements.h"
#include "data/Session.h"

namespace photoimport {

namespace {

void ReadCategoryRows(data::Session& session, bool withViewOrder, std::vector<std::string>& entries) {
  std::unique_ptr<data::Query> query = session.Open(data::CategoriesStatement(withViewOrder));
  for (; !query->Eof(); query->Next()) {
    // A NULL number or name raises the conversion error that ends the filling.
    const long long number = query->AsInteger("dz_id");
    entries.push_back(std::to_string(number) + ":" + app::Trim(query->AsString("dz_dzlx")));
  }
  query->Close();
}

void ReadDepartmentRows(data::Session& session, long long categoryNumber, std::vector<std::string>& entries) {
  std::unique_ptr<data::Query> query = session.Open(data::DepartmentsStatement(categoryNumber));
  for (; !query->Eof(); query->Next()) entries.push_back(query->Text("pe_deptment"));  // NULL reads as ""
  query->Close();
}

}  // namespace

long long ParseCategoryNumber(const std::string& text) {
  long long number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw std::runtime_error("'" + text + "' is not a valid integer value");
  }
  return number;
}

std::string CategoryNumberText(const std::string& categoryEntry) {
  return categoryEntry.substr(0, categoryEntry.find(':'));
}

ListEntries ReadCategoryList(data::Session& session) {
  ListEntries list;
  try {
    const bool withViewOrder = data::HasViewOrderColumn(session);
    list.entries = {kNoCategoryEntry, kAllCategoriesEntry};
    ReadCategoryRows(session, withViewOrder, list.entries);
  } catch (const std::exception& failure) {
    list.failure = failure.what();
  }
  return list;
}

ListEntries ReadDepartmentList(data::Session& session, int selectedIndex, const std::string& categoryEntry) {
  ListEntries list;
  list.entries = {kAllDepartmentsEntry};
  if (selectedIndex < kFirstCategoryIndex) return list;
  try {
    ReadDepartmentRows(session, ParseCategoryNumber(CategoryNumberText(categoryEntry)), list.entries);
  } catch (const std::exception& failure) {
    list.failure = failure.what();
  }
  return list;
}

}  // namespace photoimport
