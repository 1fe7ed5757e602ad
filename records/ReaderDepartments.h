// Each reader's department, for the contact sheet of a run: the run's selection reads only the card number,
// the name and the identifier, so one more statement reads the department of the same readers before the
// run starts, while the session is still free: the run's own selection with the department in the
// identifier's place (data::SelectionStatement), so no other SQL is written and exactly the run's readers
// are read.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/Session.h"
#include "import/ImportRun.h"

namespace photoimport {

class ReaderDepartments {
 public:
  ReaderDepartments() = default;
  // The departments of the readers a run with these options selects. Throws data::DbError as the session.
  static ReaderDepartments Read(data::Session& session, const ImportOptions& options);

  // The trimmed department of the reader with that (trimmed) card number; empty when unknown or none.
  const std::string& Of(const std::string& cardNumber) const;

 private:
  // Departments are few and readers many: each reader holds an index into the distinct names.
  std::vector<std::string> names_{std::string()};
  std::unordered_map<std::string, std::uint32_t> byCard_;
};

// The column a selection reads in the identifier's place to learn the readers' departments.
inline constexpr const char* kDepartmentColumn = "pe_deptment";

}  // namespace photoimport
