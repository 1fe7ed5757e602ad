// The reader-category and department lists, on both backends and both schema variants (with and
// without the display-order column), read directly and shown in the import window.
#include <QComboBox>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/unGlobal.h"
#include "import/ReaderLists.h"
#include "import/frmJSZImportImages.h"
#include "support/TestDatabase.h"

namespace {

using photoimport::ListEntries;
using testsupport::Backend;
using Strings = std::vector<std::string>;

struct Category {
  const char* id;     // SQL literal, "null" allowed
  const char* name;   // SQL literal, "null" allowed
  int viewOrder;
};

class ReaderListsTest : public ::testing::TestWithParam<std::tuple<Backend, bool>> {
 protected:
  Backend backend() const { return std::get<0>(GetParam()); }
  bool withViewOrder() const { return std::get<1>(GetParam()); }

  void SetUp() override {
    guitest::Application();
    gScale = 10;
    database_ = testsupport::TestDatabase::Create(backend(), {.withViewOrder = withViewOrder()});
    if (!database_) GTEST_SKIP() << testsupport::UnavailableReason(backend());
    session_.ConnectString(database_->ConnectionString());
  }

  void AddCategories(const std::vector<Category>& categories) {
    for (const Category& c : categories) {
      const std::string order = std::to_string(c.viewOrder);
      database_->Exec(withViewOrder() ? std::string("insert into lib_duzhe (dz_id, dz_dzlx, dz_view_order) values (") +
                                            c.id + ", " + c.name + ", " + order + ")"
                                      : std::string("insert into lib_duzhe (dz_id, dz_dzlx) values (") + c.id +
                                            ", " + c.name + ")");
    }
  }

  void AddReader(const std::string& id, int category, const std::string& departmentLiteral) {
    database_->Exec("insert into lib_people (pe_id, pe_name, pe_mark, pe_dzlx, pe_deptment) values ('" + id +
                    "', '读者" + id + "', '正常', " + std::to_string(category) + ", " + departmentLiteral + ")");
  }

  static Strings ItemsOf(const QComboBox* list) {
    Strings items;
    for (int i = 0; i < list->count(); ++i) items.push_back(list->itemText(i).toStdString());
    return items;
  }

  std::unique_ptr<testsupport::TestDatabase> database_;
  data::Session session_;
};

TEST_P(ReaderListsTest, CategoriesFollowTheDisplayOrderWhenTheSchemaHasOneElseTheirNumbers) {
  AddCategories({{"3", "'职工  '", 1}, {"1", "'学生'", 3}, {"2", "' 教师'", 2}});
  const Strings expected = withViewOrder()
                               ? Strings{"请选择读者类型", "全部读者类型", "3:职工", "2:教师", "1:学生"}
                               : Strings{"请选择读者类型", "全部读者类型", "1:学生", "2:教师", "3:职工"};
  const ListEntries list = photoimport::ReadCategoryList(session_);
  EXPECT_FALSE(list.failure) << *list.failure;
  EXPECT_EQ(list.entries, expected);

  guitest::RecordedMessageBoxes boxes;
  TJSZImportImages window(session_);
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(ItemsOf(window.cbbDZ), expected);
  EXPECT_EQ(window.cbbDZ->currentIndex(), 0);
  EXPECT_EQ(ItemsOf(window.cbbDW), Strings{"此类型全部单位"});
  EXPECT_EQ(window.cbbDW->currentIndex(), 0);
}

TEST_P(ReaderListsTest, EmptyCategoryTableLeavesTheTwoFixedEntries) {
  const ListEntries list = photoimport::ReadCategoryList(session_);
  EXPECT_FALSE(list.failure);
  EXPECT_EQ(list.entries, (Strings{"请选择读者类型", "全部读者类型"}));
}

TEST_P(ReaderListsTest, DepartmentsOfACategoryAreGroupedOrderedAndKeptAsStored) {
  AddCategories({{"1", "'学生'", 1}, {"2", "'教师'", 2}});
  AddReader("A1", 1, "'B系'");
  AddReader("A2", 1, "'A系'");
  AddReader("A3", 1, "'A系'");
  AddReader("A4", 1, "'King''s 学院'");
  AddReader("A5", 1, "'C系  '");
  AddReader("A6", 2, "'D系'");
  const Strings expected = {"此类型全部单位", "A系", "B系", "C系  ", "King's 学院"};
  const ListEntries list = photoimport::ReadDepartmentList(session_, 2, "1:学生");
  EXPECT_FALSE(list.failure) << *list.failure;
  EXPECT_EQ(list.entries, expected);

  // The user picks the category in the window: the departments follow, none of them selected.
  TJSZImportImages window(session_);
  window.rbType4->setChecked(true);
  window.cbbDZ->setFocus();
  QTest::keyClick(window.cbbDZ, Qt::Key_Down);  // "全部读者类型": no department but the fixed one
  EXPECT_EQ(ItemsOf(window.cbbDW), Strings{"此类型全部单位"});
  EXPECT_EQ(window.cbbDW->currentIndex(), -1);
  QTest::keyClick(window.cbbDZ, Qt::Key_Down);  // "1:学生"
  ASSERT_EQ(window.cbbDZ->currentText(), "1:学生");
  EXPECT_EQ(ItemsOf(window.cbbDW), expected);
  EXPECT_EQ(window.cbbDW->currentIndex(), -1);
  QTest::keyClick(window.cbbDZ, Qt::Key_Down);  // "2:教师"
  EXPECT_EQ(ItemsOf(window.cbbDW), (Strings{"此类型全部单位", "D系"}));
}

TEST_P(ReaderListsTest, NoCategoryChosenGivesOnlyTheFixedDepartmentEntry) {
  AddCategories({{"1", "'学生'", 1}});
  AddReader("A1", 1, "'A系'");
  for (int index : {-1, 0, 1}) {
    const ListEntries list = photoimport::ReadDepartmentList(session_, index, "1:学生");
    EXPECT_EQ(list.entries, Strings{"此类型全部单位"}) << index;
    EXPECT_FALSE(list.failure);
  }
}

TEST_P(ReaderListsTest, ReadersWithoutADepartmentGiveOneEmptyEntry) {
  AddCategories({{"3", "'职工'", 1}});
  AddReader("A1", 3, "null");
  AddReader("A2", 3, "null");
  const ListEntries list = photoimport::ReadDepartmentList(session_, 2, "3:职工");
  EXPECT_FALSE(list.failure);
  EXPECT_EQ(list.entries, (Strings{"此类型全部单位", ""}));
}

TEST_P(ReaderListsTest, NullCategoryValueEndsTheFillingWithNothingSelected) {
  struct Case {
    Category broken;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"2", "null", 2}, "Could not convert variant of type (Null) into type (String)"},
      {{"null", "'教师'", 2}, "Could not convert variant of type (Null) into type (Integer)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    database_->Exec("delete from lib_duzhe");
    AddCategories({{"1", "'学生'", 1}, c.broken, {"3", "'职工'", 3}});
    // The entries of the rows the server returns before the broken one. Ordered by number, a NULL number
    // comes first on SQLite and last on PostgreSQL.
    Strings before = {"请选择读者类型", "全部读者类型", "1:学生"};
    if (std::string(c.broken.id) == "null" && !withViewOrder()) {
      before = backend() == Backend::Sqlite ? Strings{"请选择读者类型", "全部读者类型"}
                                            : Strings{"请选择读者类型", "全部读者类型", "1:学生", "3:职工"};
    }

    const ListEntries list = photoimport::ReadCategoryList(session_);
    ASSERT_TRUE(list.failure);
    EXPECT_EQ(*list.failure, c.message);
    EXPECT_EQ(list.entries, before);

    guitest::RecordedMessageBoxes boxes;
    TJSZImportImages window(session_);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.boxes()[0].text.toStdString(), c.message);  // ")" sorts before ".": no stop added
    EXPECT_EQ(ItemsOf(window.cbbDZ), before);
    EXPECT_EQ(window.cbbDZ->currentIndex(), -1);
    EXPECT_EQ(window.cbbDW->currentIndex(), -1);
  }
}

TEST_P(ReaderListsTest, DatabaseErrorIsShownAndTheListsKeepWhatWasAdded) {
  AddCategories({{"1", "'学生'", 1}});
  database_->Exec("drop table lib_people");
  {
    guitest::RecordedMessageBoxes boxes;
    TJSZImportImages window(session_);
    EXPECT_TRUE(boxes.boxes().empty());
    window.rbType4->setChecked(true);
    window.cbbDZ->setFocus();
    QTest::keyClick(window.cbbDZ, Qt::Key_Down);
    QTest::keyClick(window.cbbDZ, Qt::Key_Down);  // "1:学生": its departments cannot be read
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(boxes.boxes()[0].text.isEmpty());
    EXPECT_EQ(ItemsOf(window.cbbDW), Strings{"此类型全部单位"});
    EXPECT_TRUE(window.isEnabled());
  }
  database_->Exec("drop table lib_duzhe");
  guitest::RecordedMessageBoxes boxes;
  TJSZImportImages window(session_);
  ASSERT_EQ(boxes.boxes().size(), 1u);  // the category table is gone: the driver's text is shown
  EXPECT_EQ(ItemsOf(window.cbbDZ), (Strings{"请选择读者类型", "全部读者类型"}));
  EXPECT_EQ(window.cbbDZ->currentIndex(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    BackendsAndSchemas, ReaderListsTest,
    ::testing::Combine(::testing::Values(Backend::Sqlite, Backend::Postgres), ::testing::Bool()),
    [](const auto& info) {
      return testsupport::BackendName(std::get<0>(info.param)) +
             (std::get<1>(info.param) ? "WithViewOrder" : "WithoutViewOrder");
    });

}  // namespace
