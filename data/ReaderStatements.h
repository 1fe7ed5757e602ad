// The statements the tool sends to the reader tables lib_people and lib_duzhe, line by line as sent.
#pragma once

#include <string>
#include <vector>

#include "data/Session.h"

namespace data {

// Does lib_duzhe have the display-order column dz_view_order? Asked through the server's catalog.
std::vector<std::string> ViewOrderCheckStatement();
// All categories, by display order when the schema has dz_view_order, else by number.
std::vector<std::string> CategoriesStatement(bool withViewOrder);
// The departments of the readers of one category, grouped and ordered.
std::vector<std::string> DepartmentsStatement(long long categoryNumber);

// Runs the catalog check: the column exists when the check returns at least one row.
bool HasViewOrderColumn(Session& session);

// The condition "pe_id is the card number bound to the marker", trailing blanks ignored on every
// server: a fixed-width pe_id compares that way on PostgreSQL and SQL Server by itself (and there the
// plain comparison can use the index), SQLite compares the stored value with its trailing blanks removed.
// So "D002" and "D002  " are one card number everywhere.
std::string CardNumberMatch(SqlDialect dialect);

// Which current photo a store may replace in its one statement. A replacing run decides whether the
// current photo is a bitmap it may replace by reading it first (the rule is the stored-photo format's),
// then replaces exactly that value (ReplacePhotoStatement).
enum class PhotoGuard {
  Empty,  // none yet (NULL or empty): a run that skips readers with a photo
  Any,    // whatever is stored (tools, restore)
};

// The condition on pe_photo that the guard allows.
std::string PhotoGuardCondition(SqlDialect dialect, PhotoGuard guard);

// Stores the photo (first marker) as pe_photo of the reader with the card number (second and third
// markers) when its current photo passes the guard and no other reader has that card number. The
// guard and the uniqueness are part of the one statement, so it changes exactly that row or nothing.
std::vector<std::string> StorePhotoStatement(SqlDialect dialect, PhotoGuard guard);

// As StorePhotoStatement, but the guard is the current photo itself (third marker; card number second
// and fourth): the photo is replaced only while it is still exactly the value given, the one the caller
// read and judged (and kept as its backup).
std::vector<std::string> ReplacePhotoStatement(SqlDialect dialect);

// The photos of the readers with the card number (marker): one row per reader that has it.
std::vector<std::string> ReadPhotoStatement(SqlDialect dialect);

}  // namespace data
