// Each reader's department, for the contact sheet of a run: the run's selection reads only the card number,
// the name and the identifier (its statement is fixed), so one more query reads every reader's department
// before the run starts, while the session is still free.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "data/Session.h"

namespace photoimport {

class ReaderDepartments {
 public:
  ReaderDepartments() = default;
  // One statement over the reader table. Throws data::DbError as the session does.
  static ReaderDepartments Read(data::Session& session);

  // The trimmed department of the reader with that (trimmed) card number; empty when unknown or none.
  const std::string& Of(const std::string& cardNumber) const;

 private:
  // Departments are few and readers many: each reader holds an index into the distinct names.
  std::vector<std::string> names_{std::string()};
  std::unordered_map<std::string, std::uint32_t> byCard_;
};

}  // namespace photoimport
