// An RFC 4180 reader of the tests' own, to read the run report back the way a spreadsheet does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace importtest {

using Record = std::vector<std::string>;

// RFC 4180: records end in CR LF; a quoted field may hold commas, doubled quotes and line breaks. Anything
// else (a bare LF, a quote inside an unquoted field, text after a closing quote) fails the test.
inline std::vector<Record> ReadCsv(const std::string& text) {
  std::vector<Record> records;
  Record record;
  std::string field;
  std::size_t i = 0;
  auto endField = [&] { record.push_back(std::move(field)), field.clear(); };
  while (i < text.size()) {
    if (text[i] == '"') {
      for (++i;; ++i) {
        if (i >= text.size()) {
          ADD_FAILURE() << "unterminated quoted field";
          return records;
        }
        if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
          field += '"', ++i;
        } else if (text[i] == '"') {
          ++i;
          break;
        } else {
          field += text[i];
        }
      }
    } else {
      while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
        EXPECT_NE(text[i], '"') << "quote inside an unquoted field at byte " << i;
        field += text[i++];
      }
    }
    if (i < text.size() && text[i] == ',') {
      endField(), ++i;
    } else if (text.compare(i, 2, "\r\n") == 0) {
      endField(), records.push_back(std::move(record)), record.clear(), i += 2;
    } else {
      ADD_FAILURE() << "field not followed by a comma or CR LF at byte " << i;
      return records;
    }
  }
  EXPECT_TRUE(record.empty() && field.empty()) << "last record not ended by CR LF";
  return records;
}

}  // namespace importtest
