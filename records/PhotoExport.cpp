#include "records/PhotoExport.h"

#include <exception>
#include <system_error>

#include "app/Text.h"
#include "data/ReaderStatements.h"

namespace photoimport {

bool IsNewOrEmptyFolder(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::exists(folder, error)) return !error;
  return std::filesystem::is_directory(folder, error) && std::filesystem::is_empty(folder, error);
}

std::vector<std::string> ReadersWithPhoto(data::Session& session) {
  auto query = session.Open(data::ReadersWithPhotoStatement());
  std::vector<std::string> cardNumbers;
  for (; !query->Eof(); query->Next()) cardNumbers.push_back(app::Trim(query->Text("pe_id")));
  query->Close();
  return cardNumbers;
}

Exported ExportReader(data::Session& session, PhotoBackup& files, const std::string& cardNumber, std::string& reason) {
  try {
    const std::optional<data::Bytes> photo = session.ReadPhoto(cardNumber);
    if (!photo) reason = "no reader has this card number any more";
    if (photo && photo->empty()) return Exported::EmptyValue;
    if (photo) reason = files.Save(cardNumber, *photo);
  } catch (const std::exception& error) {
    reason = error.what();
  }
  return reason.empty() ? Exported::Written : Exported::Failed;
}

}  // namespace photoimport
