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
    case DbFailure::Conflict:  // still there after the repeats
    case DbFailure::Statement: break;
  }
  return StoreOutcome::DatabaseError;
}

// What the read after a store finds: how many readers have the card number, whether the guard allows
// replacing the (last) one's photo and whether it already holds exactly this photo.
struct CurrentPhoto {
  int readers = 0;
  bool replaceable = false;
  bool same = false;
};

CurrentPhoto ReadCurrentPhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                              PhotoGuard guard) {
  auto rows = session.Open(StoreCheckStatement(session.dialect(), guard), {cardNumber});
  CurrentPhoto current;
  for (; !rows->Eof(); rows->Next(), ++current.readers) {
    current.replaceable = rows->AsInteger("replaceable") == 1;
    const Bytes value = rows->AsBytes("pe_photo").value_or(Bytes());
    current.same = std::ranges::equal(value, photo);
  }
  rows->Close();
  return current;
}

// Reads the rows the store looked for. A row already holding exactly this photo counts as stored: the
// reply to an earlier attempt of the same store may have been lost with the connection.
StoreOutcome WhyNothingChanged(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                               PhotoGuard guard) {
  const CurrentPhoto current = ReadCurrentPhoto(session, cardNumber, photo, guard);
  if (current.readers == 0) return StoreOutcome::NoSuchCard;
  if (current.readers > 1) return StoreOutcome::CardShared;
  if (current.same) return StoreOutcome::Stored;
  // The guard allows the photo now, so it did not when the store ran: it changed in between.
  if (current.replaceable || guard != PhotoGuard::EmptyOrBitmap) return StoreOutcome::PhotoChanged;
  return StoreOutcome::NotBitmap;
}

StoreResult Failure(const std::exception& error) {
  if (const auto* db = dynamic_cast<const DbError*>(&error)) return {OutcomeOf(db->failure()), db->what()};
  return {StoreOutcome::DatabaseError, error.what()};
}

// How often a store is made in all when the server keeps ending it for a conflict.
constexpr int kConflictAttempts = 3;

// Makes `attempt` (a store, or the read that predicts one) and gives its result, or the failure it threw.
// The server may end a statement to resolve a conflict with another session: two stores at once on SQL
// Server, whose reads lock the rows they pass, can deadlock; PostgreSQL may end one for a serialization
// failure. Such a statement changed nothing, so the attempt is made again, a few times.
template <typename Attempt>
StoreResult RepeatedOnConflict(Attempt attempt) {
  for (int attempts = 1;; ++attempts) {
    try {
      return attempt();
    } catch (const DbError& error) {
      if (error.failure() != DbFailure::Conflict || attempts == kConflictAttempts) return Failure(error);
    } catch (const std::exception& error) {
      return Failure(error);
    }
  }
}

}  // namespace

StoreResult StorePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                       PhotoGuard guard) {
  return RepeatedOnConflict([&]() -> StoreResult {
    const Bytes value(photo.begin(), photo.end());
    const long long changed =
        session.Execute(StorePhotoStatement(session.dialect(), guard), {value, cardNumber, cardNumber});
    if (changed == 1) return {};
    // The statement's uniqueness test keeps it from changing more than one row; a driver that cannot
    // count (-1) is answered by the read.
    return {WhyNothingChanged(session, cardNumber, photo, guard), {}};
  });
}

StoreResult ReplacePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                         std::span<const std::uint8_t> current) {
  return RepeatedOnConflict([&]() -> StoreResult {
    const Bytes value(photo.begin(), photo.end()), expected(current.begin(), current.end());
    const long long changed =
        session.Execute(ReplacePhotoStatement(session.dialect()), {value, cardNumber, expected, cardNumber});
    if (changed == 1) return {};
    // Still a bitmap, but not the one backed up, is PhotoChanged: it was written in between.
    return {WhyNothingChanged(session, cardNumber, photo, PhotoGuard::EmptyOrBitmap), {}};
  });
}

StoreResult PredictStore(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                         PhotoGuard guard) {
  return RepeatedOnConflict([&]() -> StoreResult {
    const CurrentPhoto current = ReadCurrentPhoto(session, cardNumber, photo, guard);
    if (current.readers == 0) return {StoreOutcome::NoSuchCard, {}};
    if (current.readers > 1) return {StoreOutcome::CardShared, {}};
    if (current.replaceable || current.same) return {};
    // Selected as a reader without a photo, it has one now; or its photo is a picture of another format.
    return {guard == PhotoGuard::EmptyOrBitmap ? StoreOutcome::NotBitmap : StoreOutcome::PhotoChanged, {}};
  });
}

}  // namespace data
