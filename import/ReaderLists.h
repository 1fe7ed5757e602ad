// The entries of the import window's reader-category and department lists, read from the reader tables.
// Plain C++ over the database session; the window only shows what these return.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace data {
class Session;
}

namespace photoimport {

inline constexpr const char* kNoCategoryEntry = "请选择读者类型";        // index 0: nothing chosen
inline constexpr const char* kAllCategoriesEntry = "全部读者类型";       // index 1: no restriction
inline constexpr const char* kAllDepartmentsEntry = "此类型全部单位";    // index 0 of the departments
inline constexpr int kFirstCategoryIndex = 2;

// The entries of one list in order, and the failure that ended the filling early, if any (the entries
// added before it stay).
struct ListEntries {
  std::vector<std::string> entries;
  std::optional<std::string> failure;
};

// The category list: the two fixed entries, then "<dz_id>:<trimmed dz_dzlx>" per category row, ordered by
// display order when the schema has one, else by number. A failure of the catalog check leaves no entry.
ListEntries ReadCategoryList(data::Session& session);

// The department list for the category entry chosen at selectedIndex of the category list: the fixed
// entry, then, for a category (index 2 and up), the stored department names of its readers as read.
ListEntries ReadDepartmentList(data::Session& session, int selectedIndex, const std::string& categoryEntry);

// The category number of a category entry: its text before the first ":".
std::string CategoryNumberText(const std::string& categoryEntry);

// A category number written in decimal, nothing else; throws std::runtime_error
// ("'%s' is not a valid integer value") for any other text.
long long ParseCategoryNumber(const std::string& text);

}  // namespace photoimport
