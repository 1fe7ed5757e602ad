#include "records/CsvFields.h"

namespace photoimport {

std::string NeutralisedField(std::string_view field) {
  const bool needsApostrophe =
      !field.empty() && std::string_view("=+-@\t\r'").find(field.front()) != std::string_view::npos;
  return needsApostrophe ? "'" + std::string(field) : std::string(field);
}

void AppendCsvField(std::string& out, std::string_view raw) {
  const std::string field = NeutralisedField(raw);
  if (field.find_first_of("\",\r\n") == std::string::npos) {
    out += field;
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

bool SplitCsvFields(std::string_view line, std::vector<std::string>& fields) {
  fields.assign(1, {});
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') fields.back() += c;
      else if (i + 1 < line.size() && line[i + 1] == '"') fields.back() += '"', ++i;
      else quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  for (std::string& field : fields)
    if (!field.empty() && field.front() == '\'') field.erase(0, 1);
  return !quoted;
}

}  // namespace photoimport
