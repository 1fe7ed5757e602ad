#include "records/BackupStore.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace photoimport {
namespace {

std::optional<data::StoreOutcome> OutcomeOf(data::DbFailure failure) {
  switch (failure) {
    case data::DbFailure::ConnectionLost: return data::StoreOutcome::ConnectionLost;
    case data::DbFailure::TimedOut: return data::StoreOutcome::TimedOut;
    case data::DbFailure::Cancelled: return data::StoreOutcome::Cancelled;
    // A read ended for a conflict with another session: the reader fails with the server's words (a
    // replacing run stores on one connection, so the other session is not one of its own).
    case data::DbFailure::Conflict: return data::StoreOutcome::DatabaseError;
    case data::DbFailure::Statement: break;
  }
  return std::nullopt;
}

}  // namespace

data::StoreResult BackupStore::operator()(data::Session& session, const std::string& cardNumber,
                                          std::span<const std::uint8_t> photo, data::PhotoGuard /*guard*/) {
  const data::StoreResult first = Attempt(session, cardNumber, photo);
  if (first.outcome != data::StoreOutcome::ConnectionLost) return first;
  try {
    session.Reconnect();
  } catch (const std::exception& error) {
    return {data::StoreOutcome::ConnectionLost, first.driverText + "\n" + error.what()};
  }
  return Attempt(session, cardNumber, photo);
}

data::StoreResult BackupStore::Attempt(data::Session& session, const std::string& cardNumber,
                                       std::span<const std::uint8_t> photo) {
  std::optional<data::Bytes> current;
  try {
    current = session.ReadPhoto(cardNumber);
  } catch (const data::DbError& error) {
    // A card number that no reader or several readers have: the store itself tells which.
    if (const auto outcome = OutcomeOf(error.failure())) return {*outcome, error.what()};
  } catch (const std::exception& error) {
    return {data::StoreOutcome::DatabaseError, error.what()};
  }
  if (current && std::ranges::equal(*current, photo)) return {};  // stored by an attempt whose reply was lost
  if (!current || current->empty()) return data::StorePhoto(session, cardNumber, photo, data::PhotoGuard::Empty);
  // Another format is kept, never replaced; and a photo that is already this one needs no store.
  if (PhotoFileExtension(*current) != ".bmp") return {data::StoreOutcome::NotBitmap, {}};
  if (const std::string problem = Save(cardNumber, *current); !problem.empty())
    return {data::StoreOutcome::BackupFailed, problem};
  return data::ReplacePhoto(session, cardNumber, photo, *current);
}

std::string BackupStore::Save(const std::string& cardNumber, const data::Bytes& current) {
  if (const auto it = saved_.find(cardNumber); it != saved_.end())
    return it->second == current ? std::string() : "备份中已有这位读者的另一张相片";
  std::string problem = backup_.Save(cardNumber, current);
  if (problem.empty()) saved_.emplace(cardNumber, current);
  return problem;
}

}  // namespace photoimport
