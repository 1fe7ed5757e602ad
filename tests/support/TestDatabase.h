// Throwaway reader databases for tests, reached through a real ODBC driver: SQLite3 ODBC always,
// PostgreSQL (psqlODBC) when the test command started a server (scripts/pg-start; its address comes in
// CARDPHOTO_PG_HOST, _PORT, _DATABASE, _USER, _PASSWORD).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "data/Session.h"

namespace testsupport {

enum class Backend { Sqlite, Postgres };

// "Sqlite" / "Postgres", for parameterized test names.
std::string BackendName(Backend backend);
// Why a test of the backend is skipped when TestDatabase::Create gives nullptr.
std::string UnavailableReason(Backend backend);

struct DatabaseOptions {
  bool withViewOrder = true;  // lib_duzhe has the display-order column dz_view_order
  bool withDemoData = false;  // the demo readers of tests/fixtures/demo-data.sql, two with photos
};

class TestDatabase {
 public:
  // A fresh database with the reader schema and no rows (unless demo data is asked for). SQLite: a new
  // file in a temporary folder. PostgreSQL: a new schema on the server; when no server is reachable
  // returns nullptr and the caller skips, unless CARDPHOTO_REQUIRE_PG=1, when the test fails
  // (ADD_FAILURE) and nullptr is returned as well. The Windows build always skips PostgreSQL.
  static std::unique_ptr<TestDatabase> Create(Backend backend, DatabaseOptions options = {});
  ~TestDatabase();  // removes the file / drops the schema

  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // DSN-less connection string, for data::Session::ConnectString.
  std::string ConnectionString() const;

  // A data source registered for this database in the per-process odbc.ini (ODBCINI points at a file
  // of the test support before the first ODBC call), with the user name and password to connect with.
  struct Dsn {
    std::string name, user, password;
  };
  Dsn RegisterDataSource(const std::string& name);

  // Runs one statement, or several separated by semicolons at line ends, through AdminSession().
  void Exec(const std::string& sql);
  data::Session& AdminSession();
  Backend backend() const { return backend_; }

 private:
  TestDatabase(Backend backend, std::string location);
  bool Build(const DatabaseOptions& options);

  Backend backend_;
  std::string location_;  // SQLite: the database file; PostgreSQL: the schema name
  data::Session admin_;
};

// Holds a reader's row locked from a connection of its own until it goes: on PostgreSQL by SELECT ... FOR
// UPDATE in an open transaction; SQLite locks no less than the whole database (BEGIN EXCLUSIVE).
class RowLock {
 public:
  RowLock(Backend backend, const std::string& connectionString, const std::string& cardNumber);
  RowLock(TestDatabase& db, const std::string& cardNumber)
      : RowLock(db.backend(), db.ConnectionString(), cardNumber) {}
  ~RowLock();
  RowLock(const RowLock&) = delete;
  RowLock& operator=(const RowLock&) = delete;

  // PostgreSQL: whether another session waits for this lock now.
  bool SomeoneWaits();
  // PostgreSQL: waits (polling, at most about a minute) until another session waits for this lock.
  bool AwaitWaiter();
  // Changes the locked rows as the holder of the lock (the statement, with its values), then commits: the
  // lock is released and whoever waited for it meets the change.
  void ChangeAndRelease(const std::vector<std::string>& lines, const std::vector<data::Param>& params);

 private:
  data::Session locker_;
};

// Runs the statements of a fixture file (tests/fixtures/<name>) through the session.
void RunFixture(data::Session& session, const std::string& fixtureName);

// The path of the per-process odbc.ini that ODBCINI points at.
std::string OdbcIniPath();

// Adds or replaces a data source of the per-process odbc.ini: its section body, "Key = value" lines.
void RegisterOdbcSection(const std::string& name, const std::string& body);

// A small valid photo value in the stored format (16-bit BMP, 5-6-5 bit fields, rows bottom-up) of the
// given size, every pixel the given 5-6-5 colour.
data::Bytes MakeSamplePhoto(int width = 4, int height = 5, std::uint16_t color565 = 0xF800);

}  // namespace testsupport

// Creates a TestDatabase into `var`, or skips the test when the backend's server is not reachable.
#define CREATE_DB_OR_SKIP(var, backend, ...)                                                       \
  auto var = ::testsupport::TestDatabase::Create(backend __VA_OPT__(, ) __VA_ARGS__);              \
  if (!var) GTEST_SKIP() << ::testsupport::UnavailableReason(backend)
