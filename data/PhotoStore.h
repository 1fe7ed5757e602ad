// Storing one reader's photo: one guarded statement, whose affected-row count decides the outcome.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "data/ReaderStatements.h"
#include "data/Session.h"

namespace data {

enum class StoreOutcome {
  Stored,
  NoSuchCard,      // no reader has the card number
  CardShared,      // several readers have it (trailing blanks ignored): none of them is changed
  PhotoChanged,    // the current photo is no longer what the guard allows: someone changed it meanwhile
  NotBitmap,       // the current photo is a picture of another format: kept
  TimedOut,        // the server did not finish in time (a row locked by another program, a busy database)
  Cancelled,       // Session::Cancel() ended the store
  DatabaseError,   // the server refused the statement
  ConnectionLost,  // the connection to the server is gone
  BackupFailed,    // the current photo could not be backed up, so it was not replaced (driverText: why)
};

struct StoreResult {
  StoreOutcome outcome = StoreOutcome::Stored;
  std::string driverText;  // the driver's diagnostic for the database failures, else empty
};

// Stores the photo as pe_photo of the one reader with that card number, when its current photo passes
// the guard: one statement, autocommitted, that changes that row or nothing. Only when it changed
// nothing does a second statement read why. Never throws.
StoreResult StorePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                       PhotoGuard guard);

// Replaces the photo of the one reader with that card number only while its current photo is exactly
// `current` (a bitmap the caller has backed up): a photo written meanwhile by someone else is never
// replaced without its backup. Outcomes as StorePhoto's with the guard EmptyOrBitmap. Never throws.
StoreResult ReplacePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                         std::span<const std::uint8_t> current);

// What StorePhoto would do, found with the read alone: changes nothing (a dry run). Stored when the store
// would store the photo; the failures the read can tell (NoSuchCard, CardShared, NotBitmap, PhotoChanged)
// and the database failures as StorePhoto gives them.
StoreResult PredictStore(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                         PhotoGuard guard);

}  // namespace data
