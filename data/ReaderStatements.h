// The statements the tool sends to the reader tables lib_people and lib_duzhe, line by line as sent.
#pragma once

#include <string>
#include <vector>

namespace data {

class Session;

// Does lib_duzhe have the display-order column dz_view_order? Asked through the server's catalog.
std::vector<std::string> ViewOrderCheckStatement();
// All categories, by display order when the schema has dz_view_order, else by number.
std::vector<std::string> CategoriesStatement(bool withViewOrder);
// The departments of the readers of one category, grouped and ordered.
std::vector<std::string> DepartmentsStatement(long long categoryNumber);

// Runs the catalog check: the column exists when the check returns at least one row.
bool HasViewOrderColumn(Session& session);

}  // namespace data
