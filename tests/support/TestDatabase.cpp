#include "support/TestDatabase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "support/TestPlatform.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The per-process odbc.ini. ODBCINI is set while the program starts, before any test makes its first
// ODBC call, and the folder is removed when the process ends. A Windows test program cannot point the
// driver manager at a file of its own: under Wine it writes the file that ODBCINI named when Wine was
// started (scripts/windows/wine-run makes one per test process).
class OdbcIni {
 public:
#ifdef _WIN32
  OdbcIni() : file_(FromBuildMachinePath(Env("ODBCINI"))) {}
#else
  OdbcIni() : folder_(MakeTempFolder("cardphoto-odbc-")), file_(folder_ / "odbc.ini") {
    std::ofstream(file_) << "";
    SetEnvironment("ODBCINI", file_.string());
  }
#endif
  ~OdbcIni() {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }
  const fs::path& file() const { return file_; }

  // Adds or replaces the section of a data source and rewrites the file.
  void SetSection(const std::string& name, const std::string& body) {
    sections_[name] = body;
    std::ofstream out(file_, std::ios::trunc);
    for (const auto& [sectionName, sectionBody] : sections_) out << "[" << sectionName << "]\n" << sectionBody << "\n";
  }

 private:
  fs::path folder_;
  fs::path file_;
  std::map<std::string, std::string> sections_;
};

OdbcIni& TheOdbcIni() {
  static OdbcIni ini;
  return ini;
}

// Make sure ODBCINI is set before main runs.
[[maybe_unused]] const bool kOdbcIniReady = (TheOdbcIni(), true);

struct PgServer {
  std::string host, port, database, user, password;
};

std::optional<PgServer> PgServerFromEnvironment() {
  PgServer server{Env("CARDPHOTO_PG_HOST"), Env("CARDPHOTO_PG_PORT"), Env("CARDPHOTO_PG_DATABASE"),
                  Env("CARDPHOTO_PG_USER"), Env("CARDPHOTO_PG_PASSWORD")};
  if (server.host.empty() || server.port.empty() || server.database.empty()) return std::nullopt;
  return server;
}

bool PgRequired() { return Env("CARDPHOTO_REQUIRE_PG") == "1"; }

// psqlODBC runs this on every new connection: the test database is a schema of its own.
std::string SearchPathSetting(const std::string& schema) { return "set search_path to " + schema; }

std::string UniqueSchemaName() {
  static std::atomic<int> counter{0};
  return "cardphoto_" + std::to_string(ProcessId()) + "_" + std::to_string(++counter) + "_" +
         std::to_string(std::random_device{}() % 100000);
}

// Splits SQL text at semicolons outside quoted strings, dropping "--" comments.
std::vector<std::string> SplitStatements(const std::string& sql) {
  std::vector<std::string> statements;
  std::string current;
  bool quoted = false;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (!quoted && c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      current += '\n';
      continue;
    }
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == ';') {
      statements.push_back(current);
      current.clear();
      continue;
    }
    current += c;
  }
  statements.push_back(current);
  std::erase_if(statements, [](const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; });
  return statements;
}

std::string ReadFixture(const std::string& name) {
  std::ifstream in(fs::path(CARDPHOTO_FIXTURES_DIR) / name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void RunStatements(data::Session& session, const std::string& sql) {
  for (const std::string& statement : SplitStatements(sql)) session.Execute({statement});
}

void PutLe(data::Bytes& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::string BackendName(Backend backend) { return backend == Backend::Sqlite ? "Sqlite" : "Postgres"; }

std::string UnavailableReason(Backend backend) {
#ifdef _WIN32
  if (backend == Backend::Postgres) return "PostgreSQL is tested by the Linux suite; the Windows suite starts no server";
#endif
  return "no " + BackendName(backend) + " database server";
}

std::string OdbcIniPath() { return TheOdbcIni().file().string(); }

void RegisterOdbcSection(const std::string& name, const std::string& body) { TheOdbcIni().SetSection(name, body); }

void RunFixture(data::Session& session, const std::string& fixtureName) {
  RunStatements(session, ReadFixture(fixtureName));
}

TestDatabase::TestDatabase(Backend backend, std::string location)
    : backend_(backend), location_(std::move(location)) {}

std::unique_ptr<TestDatabase> TestDatabase::Create(Backend backend, DatabaseOptions options) {
  TheOdbcIni();
  std::unique_ptr<TestDatabase> db;
  if (backend == Backend::Sqlite) {
    db.reset(new TestDatabase(backend, (MakeTempFolder("cardphoto-db-") / "library.db").string()));
  } else {
#ifdef _WIN32
    return nullptr;  // UnavailableReason
#endif
    if (!PgServerFromEnvironment()) {
      if (PgRequired()) ADD_FAILURE() << "CARDPHOTO_REQUIRE_PG=1 but no PostgreSQL server is configured";
      return nullptr;
    }
    db.reset(new TestDatabase(backend, UniqueSchemaName()));
  }
  try {
    db->admin_.ConnectString(db->ConnectionString());
  } catch (const data::DbError& error) {
    if (backend == Backend::Sqlite || PgRequired()) {
      ADD_FAILURE() << "cannot connect to the " << BackendName(backend) << " test database: " << error.what();
    }
    return nullptr;
  }
  if (!db->Build(options)) return nullptr;
  return db;
}

bool TestDatabase::Build(const DatabaseOptions& options) {
  const bool sqlite = backend_ == Backend::Sqlite;
  try {
    if (!sqlite) admin_.Execute({"create schema " + location_});
    RunFixture(admin_, sqlite ? "schema-sqlite.sql" : "schema-postgres.sql");
    if (options.withViewOrder) RunFixture(admin_, "view-order.sql");
    if (options.withDemoData) {
      RunFixture(admin_, "demo-data.sql");
      if (options.withViewOrder) RunFixture(admin_, "demo-view-order.sql");
      RunFixture(admin_, sqlite ? "demo-photos-sqlite.sql" : "demo-photos-postgres.sql");
    }
    return true;
  } catch (const std::exception& error) {
    ADD_FAILURE() << "cannot build the " << BackendName(backend_) << " test database: " << error.what();
    return false;
  }
}

TestDatabase::~TestDatabase() {
  if (backend_ == Backend::Postgres) {
    try {
      if (admin_.IsConnected()) admin_.Execute({"drop schema " + location_ + " cascade"});
    } catch (const std::exception&) {
      // A schema left behind dies with the throwaway server.
    }
    admin_.Disconnect();
  } else {
    admin_.Disconnect();
    std::error_code ignored;
    fs::remove_all(fs::path(location_).parent_path(), ignored);
  }
}

std::string TestDatabase::ConnectionString() const {
  if (backend_ == Backend::Sqlite) return "Driver=SQLite3;Database=" + DriverPath(location_) + ";Timeout=5000;";
  const PgServer server = *PgServerFromEnvironment();
  return "Driver={PostgreSQL Unicode};Servername=" + server.host + ";Port=" + server.port +
         ";Database=" + server.database + ";UID=" + server.user + ";PWD=" + server.password +
         ";ConnSettings=" + SearchPathSetting(location_) + ";";
}

TestDatabase::Dsn TestDatabase::RegisterDataSource(const std::string& name) {
  if (backend_ == Backend::Sqlite) {
    TheOdbcIni().SetSection(name, "Driver = SQLite3\nDatabase = " + DriverPath(location_) + "\nTimeout = 5000\n");
    return {name, "sa", ""};
  }
  const PgServer server = *PgServerFromEnvironment();
  TheOdbcIni().SetSection(name, "Driver = PostgreSQL Unicode\nServername = " + server.host +
                                    "\nPort = " + server.port + "\nDatabase = " + server.database +
                                    "\nConnSettings = " + SearchPathSetting(location_) + "\n");
  return {name, server.user, server.password};
}

void TestDatabase::Exec(const std::string& sql) { RunStatements(admin_, sql); }

data::Session& TestDatabase::AdminSession() { return admin_; }

RowLock::RowLock(Backend backend, const std::string& connectionString, const std::string& cardNumber) {
  locker_.ConnectString(connectionString);
  if (backend == Backend::Sqlite) {
    locker_.Execute({"begin exclusive"});
  } else {
    locker_.Execute({"begin"});
    locker_.Open({"select pe_id from lib_people where pe_id=? for update"}, {cardNumber})->Close();
  }
}

RowLock::~RowLock() {
  try {
    locker_.Execute({"rollback"});
  } catch (const std::exception&) {
    // The server may have gone (a test that stops it); the transaction went with it.
  }
}

bool RowLock::SomeoneWaits() {
  // Inside the locking transaction the activity view would show the state of its first reading.
  locker_.Open({"select pg_stat_clear_snapshot()"})->Close();
  auto waiting = locker_.Open(
      {"select count(*) as n from pg_stat_activity where pg_backend_pid() = any(pg_blocking_pids(pid))"});
  return waiting->AsInteger("n") > 0;
}

bool RowLock::AwaitWaiter() {
  for (int i = 0; i < 600; ++i) {
    if (SomeoneWaits()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void RowLock::ChangeAndRelease(const std::vector<std::string>& lines, const std::vector<data::Param>& params) {
  locker_.Execute(lines, params);
  locker_.Execute({"commit"});
}

data::Bytes MakeSamplePhoto(int width, int height, std::uint16_t color565) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(width) + 1) / 2 * 4;
  const std::uint32_t imageSize = stride * static_cast<std::uint32_t>(height);
  data::Bytes bmp = {'B', 'M'};
  PutLe(bmp, 66 + imageSize, 4);
  PutLe(bmp, 0, 4);    // reserved
  PutLe(bmp, 66, 4);   // pixel data offset
  PutLe(bmp, 40, 4);   // information header size
  PutLe(bmp, static_cast<std::uint32_t>(width), 4);
  PutLe(bmp, static_cast<std::uint32_t>(height), 4);
  PutLe(bmp, 1, 2);    // planes
  PutLe(bmp, 16, 2);   // bits per pixel
  PutLe(bmp, 3, 4);    // bit-field masks follow
  PutLe(bmp, imageSize, 4);
  bmp.insert(bmp.end(), 16, 0);  // resolutions, colours used, colours important
  PutLe(bmp, 0xF800, 4);
  PutLe(bmp, 0x07E0, 4);
  PutLe(bmp, 0x001F, 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) PutLe(bmp, color565, 2);
    for (std::uint32_t pad = static_cast<std::uint32_t>(width) * 2; pad < stride; ++pad) bmp.push_back(0);
  }
  return bmp;
}

}  // namespace testsupport
