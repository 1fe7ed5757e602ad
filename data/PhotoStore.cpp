#include "data/PhotoStore.h"

#include <algorithm>
#include <exception>

namespace data {
namespace {

StoreOutcome OutcomeOf(DbFailure failure) {
  switch (failure) {
    case DbFailure::ConnectionLost: return StoreOutcome::ConnectionLost;
    case DbFailure::TimedOut: return StoreOutcome::TimedOut;
    case DbFailure::Cancelled: return StoreOutcome::Cancelled;
    case DbFailure::Statement: break;
  }
  return StoreOutcome::DatabaseError;
}

// Reads the rows the store looked for. A row already holding exactly this photo counts as stored: the
// reply to an earlier attempt of the same store may have been lost with the connection.
StoreOutcome WhyNothingChanged(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                               PhotoGuard guard) {
  auto rows = session.Open(StoreCheckStatement(session.dialect(), guard), {cardNumber});
  int readers = 0;
  bool replaceable = false, same = false;
  for (; !rows->Eof(); rows->Next(), ++readers) {
    replaceable = rows->AsInteger("replaceable") == 1;
    const Bytes current = rows->AsBytes("pe_photo").value_or(Bytes());
    same = std::ranges::equal(current, photo);
  }
  rows->Close();
  if (readers == 0) return StoreOutcome::NoSuchCard;
  if (readers > 1) return StoreOutcome::CardShared;
  if (same) return StoreOutcome::Stored;
  // The guard allows the photo now, so it did not when the store ran: it changed in between.
  if (replaceable || guard != PhotoGuard::EmptyOrBitmap) return StoreOutcome::PhotoChanged;
  return StoreOutcome::NotBitmap;
}

}  // namespace

StoreResult StorePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                       PhotoGuard guard) {
  try {
    const Bytes value(photo.begin(), photo.end());
    const long long changed =
        session.Execute(StorePhotoStatement(session.dialect(), guard), {value, cardNumber, cardNumber});
    if (changed == 1) return {};
    // The statement's uniqueness test keeps it from changing more than one row; a driver that cannot
    // count (-1) is answered by the read.
    return {WhyNothingChanged(session, cardNumber, photo, guard), {}};
  } catch (const DbError& error) {
    return {OutcomeOf(error.failure()), error.what()};
  } catch (const std::exception& error) {
    return {StoreOutcome::DatabaseError, error.what()};
  }
}

}  // namespace data
