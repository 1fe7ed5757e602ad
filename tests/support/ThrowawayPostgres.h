// A PostgreSQL server of a test's own (scripts/pg-start in a temporary folder), for tests that stop the
// server under a running import and start it again. The shared test server must never be stopped.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class ThrowawayPostgres {
 public:
  // A running server with the database "libtest" (login libtest/libtest) and the reader schema in its
  // public schema, committing durably; nullptr (with ADD_FAILURE) when it cannot be started.
  static std::unique_ptr<ThrowawayPostgres> Start();
  ~ThrowawayPostgres();  // stops the server and removes its folder
  ThrowawayPostgres(const ThrowawayPostgres&) = delete;
  ThrowawayPostgres& operator=(const ThrowawayPostgres&) = delete;

  // Stops the server (fast shutdown: open connections are ended) / starts it again on the same port.
  bool Stop();
  bool StartAgain();
  // Stops it as a crash would: connections cut at once, what was committed stays.
  bool StopImmediately();
  // Freezes the server (SIGSTOP to the postmaster and every backend) as a machine that stops answering
  // does: connections stay open, nothing answers, not even the server's own timeouts. Thaw() lets it go
  // on; the destructor thaws it too, so a test that fails halfway leaves no frozen server behind.
  bool Freeze();
  bool Thaw();

  // DSN-less connection string, for data::Session::ConnectString.
  std::string ConnectionString() const;
  // Registers a data source for the server in the per-process odbc.ini; login libtest, password libtest.
  void RegisterDataSource(const std::string& name) const;

 private:
  explicit ThrowawayPostgres(std::filesystem::path folder) : folder_(std::move(folder)) {}
  bool Script(const std::string& name, const std::string& argument = {}) const;

  std::filesystem::path folder_;
  std::string port_;
  std::vector<int> frozen_;  // process ids stopped by Freeze()
};

}  // namespace testsupport
