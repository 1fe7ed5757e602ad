// Storing one reader's photo: one guarded statement, whose affected-row count decides the outcome.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <string>

#include "data/ReaderStatements.h"
#include "data/Session.h"

namespace data {

enum class StoreOutcome {
  Stored,
  NoSuchCard,      // no reader has the card number
  CardShared,      // several readers have it (trailing blanks ignored): none of them is changed
  PhotoChanged,    // the current photo is no longer what the store allows: someone changed it meanwhile
  NotBitmap,       // the current photo is a picture of another format: kept
  TimedOut,        // the server did not finish in time (a row locked by another program, a busy database)
  Cancelled,       // Session::Cancel() ended the store
  DatabaseError,   // the server refused the statement
  ConnectionLost,  // the connection to the server is gone
  BackupFailed,    // the current photo could not be backed up, so it was not replaced (driverText: why)
  Unknown,         // the server's answer never came (DbFailure::NoAnswer): the photo may or may not be stored
};

struct StoreResult {
  StoreOutcome outcome = StoreOutcome::Stored;
  std::string driverText;  // the driver's diagnostic for the database failures, else empty
};

// The outcome of a store that failed with this exception: a DbError by its kind (a lost connection, a
// timeout, a cancel; anything else, a conflict still there after the repeats included, is the server
// refusing the statement), any other failure a database error with its text.
StoreResult FailedStore(const std::exception& error);

// Makes `attempt` (a store, or the reads that decide or predict one) and gives its result, or the failure it
// threw as FailedStore says. The server may end a statement to resolve a conflict with another session
// (DbFailure::Conflict: two stores at once on SQL Server, whose reads lock the rows they pass, can
// deadlock; PostgreSQL may end one for a serialization failure). Such a statement changed nothing, so the
// whole attempt is made again, up to three times in all. Never throws.
StoreResult AttemptStore(const std::function<StoreResult()>& attempt);

// The readers that have the card number, trailing blanks ignored: how many, and the name (trailing blanks
// removed) and photo of the (last) one, the photo empty for NULL.
struct CurrentPhoto {
  int readers = 0;
  std::string name;
  Bytes value;
};
// Throws DbError.
CurrentPhoto ReadCurrentPhoto(Session& session, const std::string& cardNumber);

// Stores the photo as pe_photo of the one reader with that card number, when its current photo passes
// the guard: one statement, autocommitted, that changes that row or nothing. Only when it changed
// nothing does a second statement read why (NoSuchCard, CardShared, PhotoChanged; a row that already
// holds exactly this photo counts as stored: the reply to an earlier attempt of the same store may have
// been lost with the connection). Never throws.
StoreResult StorePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                       PhotoGuard guard);

// Replaces the photo of the one reader with that card number only while its current photo is exactly
// `current` (the value the caller read, judged and backed up): a photo written meanwhile by someone else
// is never replaced (PhotoChanged). Outcomes otherwise as StorePhoto's. Never throws.
StoreResult ReplacePhoto(Session& session, const std::string& cardNumber, std::span<const std::uint8_t> photo,
                         std::span<const std::uint8_t> current);

}  // namespace data
