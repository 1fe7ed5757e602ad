// Every statement the tool can send to a server of one dialect, each with when it is sent: what `card-photo
// statements` shows a database administrator before the tool goes near a production server. The
// statements come from their builders (ReaderStatements), so the list is what is sent.
#pragma once

#include <string>
#include <vector>

#include "data/Session.h"

namespace data {

struct CatalogEntry {
  std::string when;                // one line: when the tool sends it
  std::vector<std::string> lines;  // as sent, '?' for each bound value
};

// In the order a session meets them: connecting, the window's lists, an import run, export and restore.
// Values the text carries itself (a category number) are shown with an example; a replacing store
// compares the current photo in one line per 8,000 bytes (on SQL Server), shown for a photo this tool
// stores.
std::vector<CatalogEntry> EveryStatement(SqlDialect dialect);

}  // namespace data
