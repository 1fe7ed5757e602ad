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

std::vector<PhotoOwner> ReadersWithPhoto(data::Session& session) {
  auto query = session.Open(data::ReadersWithPhotoStatement());
  std::vector<PhotoOwner> readers;
  for (; !query->Eof(); query->Next())
    readers.push_back(PhotoOwner{app::TrimEnd(query->Text("pe_id")), app::TrimEnd(query->Text("pe_name"))});
  query->Close();
  return readers;
}

Exported ExportReader(data::Session& session, PhotoBackup& files, const PhotoOwner& reader, std::string& reason) {
  try {
    const std::optional<data::Bytes> photo = session.ReadPhoto(reader.cardNumber);
    if (!photo) reason = "no reader has this card number any more";
    if (photo && photo->empty()) return Exported::EmptyValue;
    if (photo) reason = files.Save(reader, *photo);
  } catch (const std::exception& error) {
    reason = error.what();
  }
  if (!reason.empty()) return Exported::Failed;
  return files.SavedUnderOtherName(reader.cardNumber) ? Exported::WrittenUnderOtherName : Exported::Written;
}

}  // namespace photoimport
