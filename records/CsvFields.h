// Comma-separated files that staff open in a spreadsheet (the run report, the backups' manifest): fields
// quoted as RFC 4180 has it, and no cell that a spreadsheet would run as a formula.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace photoimport {

// A field as written: one that begins with "=", "+", "-", "@", a tab or a carriage return is what a
// spreadsheet runs as a formula, so it gets an apostrophe before it, which makes it text; one that begins
// with an apostrophe gets one more, since a spreadsheet shows a cell without its first apostrophe.
std::string NeutralisedField(std::string_view field);

// Appends the field, neutralised, and enclosed in quotes (its quotes doubled) when it holds a quote, a comma
// or a line break.
void AppendCsvField(std::string& out, std::string_view raw);

// The fields of one line as AppendCsvField wrote them, each without its neutralising apostrophe; false for
// a quote left open.
bool SplitCsvFields(std::string_view line, std::vector<std::string>& fields);

}  // namespace photoimport
