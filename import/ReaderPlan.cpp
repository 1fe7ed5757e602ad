#include "import/ReaderPlan.h"

#include <unordered_map>

namespace photoimport {

std::vector<PlannedReader> PlanReaders(const std::vector<ReaderRow>& rows, const PhotoFolder& folder,
                                       NamingRule rule, int ruleIndex) {
  std::vector<PlannedReader> plan;
  plan.reserve(rows.size());
  std::unordered_map<std::string, int> takers;  // file name on disk -> readers that would take it
  for (const ReaderRow& row : rows) {
    PlannedReader reader;
    if (row.identifier.empty()) {
      reader.choice = FileChoice::NoIdentifier;
    } else {
      reader.file = folder.FindFile(row.identifier, rule, ruleIndex);
      if (!reader.file.empty()) {
        reader.choice = FileChoice::Found;
        ++takers[reader.file.name];
      }
    }
    plan.push_back(std::move(reader));
  }
  for (PlannedReader& reader : plan) {
    if (reader.choice == FileChoice::Found && takers[reader.file.name] > 1) reader.choice = FileChoice::Shared;
  }
  return plan;
}

}  // namespace photoimport
