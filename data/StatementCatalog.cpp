#include "data/StatementCatalog.h"

#include <optional>

#include "data/ReaderStatements.h"

namespace data {
namespace {

// The length of a photo this tool stores: a 110 x 120 bitmap of 16 bits per pixel (66 bytes of headers).
constexpr std::size_t kStoredPhotoBytes = 66 + 110 * 2 * 120;

struct SelectionCase {
  const char* identifier;
  const char* column;
  std::optional<long long> category;
  bool department;
};

}  // namespace

std::vector<CatalogEntry> EveryStatement(SqlDialect dialect) {
  std::vector<CatalogEntry> entries;
  for (const Statement& setup : ConnectionSetupStatements(dialect, Timeouts{}))
    entries.push_back({"once after each connect (and when the statement timeout changes)", setup.lines});

  entries.push_back({"when the import window opens: does lib_duzhe have dz_view_order?", ViewOrderCheckStatement()});
  entries.push_back({"when the import window opens, if it has: the reader categories", CategoriesStatement(true)});
  entries.push_back({"when the import window opens, if not: the reader categories", CategoriesStatement(false)});
  entries.push_back({"when a category is chosen in the import window: its departments (here category 1)",
                     DepartmentsStatement(1)});

  const SelectionCase selections[] = {
      {"card numbers", "pe_id", std::nullopt, false},
      {"identity-card numbers", "pe_shenfenzheng", std::nullopt, false},
      {"campus-card numbers", "pe_yktno", std::nullopt, false},
      {"names, all categories", "pe_name", std::nullopt, false},
      {"names, one category (here 1)", "pe_name", 1, false},
      {"names, one category (here 1) and one department", "pe_name", 1, true},
  };
  for (const bool replacing : {false, true}) {
    for (const SelectionCase& c : selections) {
      entries.push_back({std::string("once at the start of an import run") + (replacing ? " that replaces photos" : "") +
                             ", files named by " + c.identifier + ": the readers it handles",
                         SelectionStatement(dialect, c.column, !replacing, c.category,
                                            c.department ? std::optional<std::string>("?") : std::nullopt)
                             .lines});
      if (!replacing)
        entries.push_back({std::string("once at the start of an import run, files named by ") + c.identifier +
                               ", for its report: the readers it passes over because they have a photo",
                           ReadersWithPhotoSelection(dialect, c.column, c.category,
                                                     c.department ? std::optional<std::string>("?") : std::nullopt)
                               .lines});
    }
  }
  // The contact sheet reads the readers' departments by the same selection, the department in the
  // identifier's place.
  entries.push_back({"once before an import run that makes a contact sheet (every run of the window; card-photo "
                     "import --sheet), files named by card numbers: the departments of the readers it handles",
                     SelectionStatement(dialect, "pe_deptment", true, std::nullopt, std::nullopt).lines});
  entries.push_back({"card-photo sheet, once (here of one category and one department): the readers and their "
                     "departments",
                     SelectionStatement(dialect, "pe_deptment", false, 1, std::optional<std::string>("?")).lines});
  if (dialect == SqlDialect::SqlServer) {
    entries.push_back({"once at the start of an import run not given --connections: does lib_people have an "
                       "index on pe_id (two connections store at once if so, one if not)?",
                       CardNumberIndexStatement()});
  }

  const Bytes photo(kStoredPhotoBytes);
  entries.push_back({"for each reader of a run that replaces photos, and of a dry run, before the store; after a "
                     "store that changed nothing, to say why; by export, restore and sheet, for each reader: the "
                     "current photo",
                     ReadPhotoStatement(dialect, "?").lines});
  entries.push_back({"for each reader of an import run whose photo is stored where none is yet; by card-photo "
                     "restore, for each photo it writes back to a reader without one",
                     StorePhotoStatement(dialect, PhotoGuard::Empty, "?", photo).lines});
  entries.push_back({std::string("for each reader of a run that replaces photos, whose current photo was read, "
                                 "judged a bitmap and backed up; by card-photo restore, for each photo it writes back over the one it "
                                 "read and backed up: replaced only while it is still that value") +
                         (dialect == SqlDialect::SqlServer
                              ? " (one substring line per 8,000 bytes of it; here for a photo of " +
                                    std::to_string(kStoredPhotoBytes) + " bytes)"
                              : std::string()),
                     ReplacePhotoStatement(dialect, "?", photo, photo).lines});
  entries.push_back({"card-photo export, once: the readers with a photo", ReadersWithPhotoStatement()});
  return entries;
}

}  // namespace data
