#include "support/ThrowawayPostgres.h"

#include <gtest/gtest.h>

#include <cstdlib>
#ifndef _WIN32
#include <signal.h>
#endif
#include <fstream>
#include <regex>
#include <sstream>

#include "data/Session.h"
#include "support/TestDatabase.h"
#include "support/TestPlatform.h"

namespace testsupport {

std::unique_ptr<ThrowawayPostgres> ThrowawayPostgres::Start() {
  std::filesystem::path folder;
  try {
    folder = MakeTempFolder("cardphoto-pg-");
  } catch (const std::exception& error) {
    ADD_FAILURE() << "cannot create a folder for a PostgreSQL server: " << error.what();
    return nullptr;
  }
  std::unique_ptr<ThrowawayPostgres> server(new ThrowawayPostgres(folder.string()));
  // Durable: its tests stop the server as a crash would, and a server with asynchronous commits then loses
  // the last commits it had already confirmed, which would be blamed on the tool.
  if (!server->Script("pg-start", "--durable")) {
    ADD_FAILURE() << "scripts/pg-start failed";
    return nullptr;
  }
  std::stringstream env;
  env << std::ifstream(server->folder_ / "env").rdbuf();
  std::smatch port;
  const std::string text = env.str();
  if (!std::regex_search(text, port, std::regex("CARDPHOTO_PG_PORT=([0-9]+)"))) {
    ADD_FAILURE() << "no port in " << (server->folder_ / "env");
    return nullptr;
  }
  server->port_ = port[1];
  try {
    data::Session session;
    session.ConnectString(server->ConnectionString());
    RunFixture(session, "schema-postgres.sql");
  } catch (const std::exception& error) {
    ADD_FAILURE() << "cannot set up the reader schema: " << error.what();
    return nullptr;
  }
  return server;
}

ThrowawayPostgres::~ThrowawayPostgres() {
  Thaw();
  Script("pg-stop");
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

bool ThrowawayPostgres::Script(const std::string& name, const std::string& argument) const {
  const std::string command = "bash '" + std::string(CARDPHOTO_SOURCE_DIR) + "/scripts/" + name + "' '" +
                              folder_.string() + "' " + argument + " >/dev/null";
  return std::system(command.c_str()) == 0;
}

bool ThrowawayPostgres::Stop() { return Script("pg-stop"); }

bool ThrowawayPostgres::StartAgain() { return Script("pg-start"); }

bool ThrowawayPostgres::StopImmediately() { return Script("pg-stop", "--immediate"); }

#ifdef _WIN32
bool ThrowawayPostgres::Freeze() { return false; }
bool ThrowawayPostgres::Thaw() { return true; }
#else
// The postmaster (the first line of postmaster.pid) first, so that it starts no new backend, then each
// process whose parent it is (found through /proc).
bool ThrowawayPostgres::Freeze() {
  int postmaster = 0;
  std::ifstream(folder_ / "data" / "postmaster.pid") >> postmaster;
  if (postmaster <= 0 || ::kill(postmaster, SIGSTOP) != 0) return false;
  frozen_.push_back(postmaster);
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat;
    std::getline(std::ifstream(entry.path() / "stat"), stat);
    // pid (comm) state ppid ...: the name in parentheses may hold blanks, so read after its last ')'.
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    std::string state;
    int parent = 0;
    rest >> state >> parent;
    if (parent == postmaster && ::kill(std::stoi(name), SIGSTOP) == 0) frozen_.push_back(std::stoi(name));
  }
  return true;
}

bool ThrowawayPostgres::Thaw() {
  bool all = true;
  for (const int pid : frozen_) all = ::kill(pid, SIGCONT) == 0 && all;
  frozen_.clear();
  return all;
}
#endif

std::string ThrowawayPostgres::ConnectionString() const {
  return "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=" + port_ +
         ";Database=libtest;UID=libtest;PWD=libtest;";
}

void ThrowawayPostgres::RegisterDataSource(const std::string& name) const {
  RegisterOdbcSection(name, "Driver = PostgreSQL Unicode\nServername = 127.0.0.1\nPort = " + port_ +
                                "\nDatabase = libtest\n");
}

}  // namespace testsupport
