#include "data/ReaderStatements.h"

#include "data/Session.h"

namespace data {

std::vector<std::string> ViewOrderCheckStatement() {
  return {"select name from syscolumns where name='dz_view_order' and id in (select id from sysobjects where "
          "name = 'lib_duzhe')"};
}

std::vector<std::string> CategoriesStatement(bool withViewOrder) {
  return {withViewOrder ? "select * from lib_duzhe order by dz_view_order,dz_dzlx"
                        : "select * from lib_duzhe order by dz_id,dz_dzlx"};
}

// The first line ends in two blanks, as the library system has always sent it.
std::vector<std::string> DepartmentsStatement(long long categoryNumber) {
  return {"select pe_deptment from lib_people  ", "where pe_dzlx=" + std::to_string(categoryNumber),
          "group by pe_deptment", "order by pe_deptment"};
}

bool HasViewOrderColumn(Session& session) {
  auto query = session.Open(ViewOrderCheckStatement());
  const bool exists = !query->Eof();
  query->Close();
  return exists;
}

}  // namespace data
