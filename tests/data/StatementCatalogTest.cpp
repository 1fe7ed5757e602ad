// What `card-photo statements` shows a database administrator: every statement the tool can send to a
// server of one kind, exactly as sent, each after a line saying when. The PostgreSQL and SQLite lists are
// also handed to those servers as printed, as an administrator would try them in their own tools.
#include "data/StatementCatalog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "support/TestDatabase.h"

namespace {

using data::SqlDialect;
using testsupport::Backend;
using testsupport::TestDatabase;

struct Printed {
  int exitCode = -1;
  std::string text;  // standard output and standard error
};

Printed RunStatements(const std::string& arguments) {
  Printed printed;
#ifndef _WIN32
  const std::string command = std::string(CARDPHOTO_BINARY_DIR) + "/tools/card-photo statements " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return printed;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) printed.text.append(buffer, n);
  const int status = pclose(pipe);
  printed.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return printed;
}

// The blocks of the printed list: a "-- " line, then the statement's lines, then an empty line.
std::vector<data::CatalogEntry> Blocks(const std::string& text) {
  std::vector<data::CatalogEntry> blocks;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("-- ")) {
      blocks.push_back({line.substr(3), {}});
    } else if (!line.empty() && !blocks.empty()) {
      blocks.back().lines.push_back(line);
    }
  }
  return blocks;
}

TEST(StatementCatalogTest, TheCommandPrintsEveryStatementAsSentAfterWhenItIsSent) {
#ifdef _WIN32
  GTEST_SKIP() << "runs card-photo through a POSIX shell";
#endif
  const struct {
    const char* argument;
    SqlDialect dialect;
  } cases[] = {
      {"", SqlDialect::SqlServer},
      {"--dialect sqlserver", SqlDialect::SqlServer},
      {"--dialect postgres", SqlDialect::Postgres},
      {"--dialect sqlite", SqlDialect::Sqlite},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    const Printed printed = RunStatements(c.argument);
    EXPECT_EQ(printed.exitCode, 0) << printed.text;
    const std::vector<data::CatalogEntry> expected = data::EveryStatement(c.dialect);
    const std::vector<data::CatalogEntry> blocks = Blocks(printed.text);
    ASSERT_EQ(blocks.size(), expected.size()) << printed.text;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].when, expected[i].when);
      EXPECT_EQ(blocks[i].lines, expected[i].lines) << expected[i].when;
    }
  }
  const Printed unknown = RunStatements("--dialect oracle");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.text.find("unknown dialect oracle"), std::string::npos) << unknown.text;
}

// Each statement of the list, as printed, is one the server accepts: PostgreSQL prepares it (with $1, $2,
// ... for the markers, as psql's PREPARE takes them), SQLite compiles it (EXPLAIN, the markers bound).
class StatementCatalogOnServerTest : public ::testing::TestWithParam<Backend> {};

TEST_P(StatementCatalogOnServerTest, EveryStatementListedIsAcceptedAsPrinted) {
  CREATE_DB_OR_SKIP(db, GetParam());
  data::Session& session = db->AdminSession();
  const std::vector<data::CatalogEntry> entries = data::EveryStatement(session.dialect());
  ASSERT_FALSE(entries.empty());
  int number = 0;
  for (const data::CatalogEntry& entry : entries) {
    SCOPED_TRACE(entry.when);
    std::vector<std::string> lines = entry.lines;
    std::vector<data::Param> markers;
    for (std::string& line : lines) {
      for (std::size_t at; (at = line.find('?')) != std::string::npos;) {
        markers.emplace_back(std::string());
        line.replace(at, 1, "$" + std::to_string(markers.size()));
      }
    }
    try {
      if (GetParam() == Backend::Postgres) {
        const std::string name = "listed_" + std::to_string(++number);
        lines.front() = "prepare " + name + " as " + lines.front();
        session.Execute(lines);
        session.Execute({"deallocate " + name});
      } else {
        std::vector<std::string> explained = entry.lines;
        explained.front() = "explain " + explained.front();
        session.Open(explained, markers)->Close();
      }
    } catch (const data::DbError& error) {
      ADD_FAILURE() << error.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, StatementCatalogOnServerTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
