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

// Which current photo a store may replace.
enum class PhotoGuard {
  Empty,          // none yet (NULL or empty): a run that skips readers with a photo
  EmptyOrBitmap,  // none, or a bitmap (see PhotoGuardCondition): a run that replaces photos
  Any,            // whatever is stored
};

// The condition on pe_photo that the guard allows. A bitmap is a value that begins with "BM", bare or
// behind the 8-byte blob header that database front ends put before a picture (16-bit 1, 16-bit
// 0x0100, 32-bit length of the rest): the signature by which the library system recognises a bitmap.
std::string PhotoGuardCondition(SqlDialect dialect, PhotoGuard guard);

// Stores the photo (first marker) as pe_photo of the reader with the card number (second and third
// markers) when its current photo passes the guard and no other reader has that card number. The
// guard and the uniqueness are part of the one statement, so it changes exactly that row or nothing.
std::vector<std::string> StorePhotoStatement(SqlDialect dialect, PhotoGuard guard);

// As StorePhotoStatement, but the guard is the current photo itself (third marker; card number second
// and fourth): the photo is replaced only while it is still exactly the value given, the one kept as
// its backup.
std::vector<std::string> ReplacePhotoStatement(SqlDialect dialect);

// Every reader with the card number (marker): pe_photo, and "replaceable" 1 when the guard allows
// replacing it, else 0. Asked only after a store that changed nothing, to tell why.
std::vector<std::string> StoreCheckStatement(SqlDialect dialect, PhotoGuard guard);

// The photos of the readers with the card number (marker).
std::vector<std::string> ReadPhotoStatement(SqlDialect dialect);

}  // namespace data
