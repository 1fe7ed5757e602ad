#include "records/StoredPhotoSheet.h"

#include <algorithm>
#include <exception>

#include "app/Text.h"
#include "data/ReaderStatements.h"
#include "records/ReaderDepartments.h"

namespace photoimport {

std::vector<SheetReader> ReadersForStoredSheet(data::Session& session, const StoredSheetChoice& choice) {
  // The selection of a run that replaces photos (every normal reader of the choice), with the department in
  // the identifier's place.
  auto query = session.Open(data::SelectionStatement(session.dialect(), kDepartmentColumn, false, choice.category,
                                                     choice.category ? choice.department : std::nullopt));
  std::vector<SheetReader> readers;
  for (; !query->Eof(); query->Next()) {
    SheetReader reader;
    reader.cardNumber = app::Trim(query->Text("pe_id"));
    reader.name = app::Trim(query->Text("pe_name"));
    reader.department = app::Trim(query->Text("sNo"));
    readers.push_back(std::move(reader));
  }
  query->Close();
  std::stable_sort(readers.begin(), readers.end(),
                   [](const SheetReader& a, const SheetReader& b) { return a.cardNumber < b.cardNumber; });
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
