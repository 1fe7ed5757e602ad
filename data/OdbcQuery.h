// The result of a statement over ODBC: forward only, the current row fetched whole on every move.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/OdbcStatement.h"
#include "data/Session.h"

namespace data::odbc {

class OdbcQuery : public Query {
 public:
  // Takes over an executed statement and moves onto the first row.
  OdbcQuery(std::shared_ptr<Connection> connection, Handle statement);
  ~OdbcQuery() override;

  bool Eof() const override { return !hasRow_; }
  void Next() override;
  bool IsNull(const std::string& column) const override;
  std::string AsString(const std::string& column) const override;
  long long AsInteger(const std::string& column) const override;
  std::string Text(const std::string& column) const override;
  std::optional<Bytes> AsBytes(const std::string& column) const override;
  void Close() override;

 private:
  struct Column {
    std::string name;
    bool binary = false;
  };
  struct Cell {
    bool null = true;
    std::string value;  // UTF-8 text, or the raw bytes of a binary column
  };

  TextMode Mode() const { return connection_->textMode; }
  void DescribeColumns();
  Column DescribeColumn(SQLSMALLINT number);
  void FetchRow();
  Cell ReadCell(SQLUSMALLINT number, bool binary);
  const Cell& Find(const std::string& column) const;

  std::shared_ptr<Connection> connection_;
  Handle statement_;
  std::vector<Column> columns_;
  std::vector<Cell> row_;
  std::vector<char> chunk_;  // one buffer for every cell read, allocated with the first
  bool hasRow_ = false;
};

}  // namespace data::odbc
