// Every statement the tool sends to the database server, line by line as sent, in the form of the server's
// SQL (SqlDialect): the reader tables lib_people and lib_duzhe, the catalog checks and the settings of a
// new connection. Nothing else in the program writes SQL, so that `card-photo statements` (which lists
// them through StatementCatalog) shows a database administrator exactly what the tool can send.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/Session.h"

namespace data {

// What a new connection is told before its first statement (SQLite: how long to wait for a database that
// another connection holds locked; SQL Server: to send long values whole). Sent again when the timeouts
// change.
std::vector<Statement> ConnectionSetupStatements(SqlDialect dialect, const Timeouts& timeouts);

// Does lib_duzhe have the display-order column dz_view_order? Asked through the server's catalog.
std::vector<std::string> ViewOrderCheckStatement();
// All categories, by display order when the schema has dz_view_order, else by number.
std::vector<std::string> CategoriesStatement(bool withViewOrder);
// The departments of the readers of one category, grouped and ordered.
std::vector<std::string> DepartmentsStatement(long long categoryNumber);

// Runs the catalog check: the column exists when the check returns at least one row.
bool HasViewOrderColumn(Session& session);

// A text literal of the statements: on SQL Server with the N prefix, so that Chinese text reaches the
// server as Unicode whatever the database's code page (without it the server reads the text in its
// default code page and characters it lacks become '?').
std::string TextLiteral(SqlDialect dialect, std::string_view text);

// The readers an import run looks for: "select pe_id,pe_name", the identifier column as sNo, normal
// readers only (pe_mark neither 过期 nor 注销, as the library system sends it), then the optional
// restrictions: no photo yet, one category (written in decimal), within it one department (bound, and
// compared without trailing blanks on both sides, so that a name read from a fixed-width column matches).
Statement SelectionStatement(SqlDialect dialect, const std::string& identifierColumn, bool withoutPhotoOnly,
                             std::optional<long long> category, const std::optional<std::string>& department);

// The readers the same selection passes over because they have a photo already (SelectionStatement with
// "pe_photo is not null" in place of "pe_photo is null"): a run that keeps photos asks for them so that its
// report names the files they own instead of calling those files unused.
Statement ReadersWithPhotoSelection(SqlDialect dialect, const std::string& identifierColumn,
                                    std::optional<long long> category, const std::optional<std::string>& department);

// The condition "pe_id is the card number bound to the marker", trailing blanks ignored on every server
// (a fixed-width pe_id compares that way on PostgreSQL and SQL Server by itself; SQLite compares the
// stored value with its trailing blanks removed), in a form the server finds through an index on pe_id.
// So "D002" and "D002  " are one card number everywhere.
std::string CardNumberMatch(SqlDialect dialect);

// Which current photo a store may replace in its one statement. A replacing run decides whether the
// current photo is a bitmap it may replace by reading it first (the rule is the stored-photo format's),
// then replaces exactly that value (ReplacePhotoStatement).
enum class PhotoGuard {
  Empty,  // none yet (NULL or empty): a run that skips readers with a photo
  Any,    // whatever is stored (tools, restore)
};

// Stores the photo as pe_photo of the reader with the card number when its current photo passes the
// guard and no other reader has that card number. The guard and the uniqueness are part of the one
// statement, so it changes exactly that row or nothing; its count (Session::Execute) says which, also on
// SQL Server under triggers of the library system's.
Statement StorePhotoStatement(SqlDialect dialect, PhotoGuard guard, const std::string& cardNumber,
                              std::span<const std::uint8_t> photo);

// As StorePhotoStatement, but the guard is the current photo itself: the photo is replaced only while it
// is still exactly `current`, the value the caller read and judged (and kept as its backup). SQL Server
// compares a photo column (image, on old servers) only in pieces: its length, then each piece of at most
// kLongestComparableBinary bytes (one marker each).
Statement ReplacePhotoStatement(SqlDialect dialect, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                                std::span<const std::uint8_t> current);

// The names and photos of the readers with the card number: one row per reader that has it.
Statement ReadPhotoStatement(SqlDialect dialect, const std::string& cardNumber);

// The card numbers and names of the readers with a photo, in order (an export).
std::vector<std::string> ReadersWithPhotoStatement();

// SQL Server: the indexes of lib_people whose first key column is pe_id, through the catalog tables of
// SQL Server 2000, which every later version keeps as compatibility views (statistics and the hypothetical
// indexes of the tuning advisor left out).
std::vector<std::string> CardNumberIndexStatement();

// Runs that check: a store finds its reader through an index. Without one each store reads the whole
// reader table, and stores on several connections at once then wait for each other or deadlock.
bool HasCardNumberIndex(Session& session);

}  // namespace data
