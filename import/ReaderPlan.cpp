#include "import/ReaderPlan.h"

#include <unordered_map>

namespace photoimport {

namespace {

PlannedReader MappedReader(const ReaderRow& row, const PhotoFolder& folder, const PhotoMapping& mapping) {
  PlannedReader reader;
  const std::optional<MappedFile> mapped = mapping.Find(row.identifier);
  if (!mapped) return reader;
  if (!mapped->reason.empty()) {
    reader.choice = FileChoice::Refused;
    reader.reason = mapped->reason;
    return reader;
  }
  reader.file = folder.FindNamed(mapped->fileName);
  if (reader.file.empty()) reader.reason = MissingMappedFileReason(mapped->fileName);
  else reader.choice = FileChoice::Found;
  return reader;
}

// The reader's file is one of several that would do as well: none is taken.
void RefuseSeveral(PlannedReader& reader, const PhotoFolder& folder, bool anyExtension) {
  const std::vector<FoundFile> others = folder.Alternatives(reader.file, anyExtension);
  if (others.empty()) return;
  std::string names = reader.file.shown;
  for (const FoundFile& other : others) names += "、" + other.shown;
  reader.choice = FileChoice::Several;
  reader.reason = "有多个相片文件（" + names + "），不知用哪一个，未导入";
}

}  // namespace

std::string MissingMappedFileReason(const std::string& fileName) { return "对照文件所列的相片文件不存在：" + fileName; }

std::vector<PlannedReader> PlanReaders(const std::vector<ReaderRow>& rows, const PhotoFolder& folder,
                                       NamingRule rule, int ruleIndex, const PhotoMapping* mapping) {
  std::vector<PlannedReader> plan;
  plan.reserve(rows.size());
  std::unordered_map<std::string, int> takers;  // file name on disk -> readers that would take it
  for (const ReaderRow& row : rows) {
    PlannedReader reader;
    if (row.identifier.empty()) {
      reader.choice = FileChoice::NoIdentifier;
    } else if (mapping) {
      reader = MappedReader(row, folder, *mapping);
      if (reader.choice == FileChoice::Found) RefuseSeveral(reader, folder, false);
    } else {
      reader.file = folder.FindFile(row.identifier, rule, ruleIndex);
      if (!reader.file.empty()) reader.choice = FileChoice::Found;
      if (reader.choice == FileChoice::Found) RefuseSeveral(reader, folder, true);
    }
    if (reader.choice == FileChoice::Found) ++takers[reader.file.name];
    plan.push_back(std::move(reader));
  }
  for (PlannedReader& reader : plan) {
    if (reader.choice == FileChoice::Found && takers[reader.file.name] > 1) reader.choice = FileChoice::Shared;
  }
  return plan;
}

}  // namespace photoimport
