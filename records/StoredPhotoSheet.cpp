#include "records/StoredPhotoSheet.h"

#include <exception>

#include "app/Text.h"

namespace photoimport {

std::vector<SheetReader> ReadersForStoredSheet(data::Session& session, const StoredSheetChoice& choice) {
  std::vector<std::string> lines = {"select pe_id,pe_name,pe_deptment",
                                    "from lib_people where pe_id<>'' and pe_mark<>'过期' and pe_mark<>'注销' "};
  std::vector<data::Param> params;
  if (choice.category) {
    lines.push_back("  and pe_dzlx=?");
    params.emplace_back(*choice.category);
    // Trailing blanks of a fixed-width column ignored on both sides, as a run's selection does.
    if (choice.department) {
      lines.push_back("  and rtrim(pe_deptment)=rtrim(?)");
      params.emplace_back(*choice.department);
    }
  }
  lines.push_back("order by pe_id");
  auto query = session.Open(lines, params);
  std::vector<SheetReader> readers;
  for (; !query->Eof(); query->Next()) {
    SheetReader reader;
    reader.cardNumber = app::Trim(query->Text("pe_id"));
    reader.name = app::Trim(query->Text("pe_name"));
    reader.department = app::Trim(query->Text("pe_deptment"));
    readers.push_back(std::move(reader));
  }
  query->Close();
  return readers;
}

SheetOutcome AddStoredPhoto(data::Session& session, SheetReader reader, ContactSheet& sheet, std::string& reason) {
  std::optional<data::Bytes> photo;
  try {
    photo = session.ReadPhoto(reader.cardNumber);
    if (!photo) reader.reason = "借书证号已不存在";
  } catch (const std::exception& error) {
    reader.reason = error.what();
  }
  reason = reader.reason;
  if (!reason.empty()) {
    reader.outcome = SheetOutcome::Failed;
    sheet.Add(reader, {});
    return reader.outcome;
  }
  reader.outcome = photo->empty() ? SheetOutcome::NoPhoto : SheetOutcome::OnFile;
  sheet.Add(reader, *photo);
  return reader.outcome;
}

}  // namespace photoimport
