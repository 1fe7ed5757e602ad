// The import window's layout, initial state and the rules between its controls, driven through its
// widgets. The lists come from a real database (tests/gui/ReaderListsTest.cpp covers their contents).
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "support/TestDatabase.h"
#include "app/unGlobal.h"
#include "import/frmJSZImportImages.h"

namespace {

using testsupport::Backend;

class ImportWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    guitest::Application();
    gScale = 10;
    database_ = testsupport::TestDatabase::Create(Backend::Sqlite);
    ASSERT_NE(database_, nullptr);
    session_.ConnectString(database_->ConnectionString());
  }

  std::unique_ptr<TJSZImportImages> OpenWindow() {
    auto window = std::make_unique<TJSZImportImages>(session_);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    return window;
  }

  std::unique_ptr<testsupport::TestDatabase> database_;
  data::Session session_;
};

// Types text the way a keyboard (or an input method) delivers it, one key event per character.
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar character : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
    QApplication::sendEvent(widget, &release);
  }
}

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  return {};
}

TEST_F(ImportWindowTest, ControlsSitWhereDesignedWithTheirTexts) {
  TJSZImportImages w(session_);
  const QColor red(Qt::red);
  struct Expected {
    QWidget* control;
    QRect geometry;  // width or height 0: not fixed by design
    QString text;
  };
  const std::vector<Expected> controls = {
      {w.Label1, {16, 8, 0, 0}, "注意："},
      {w.Label2, {48, 24, 0, 0}, "1、导入借书证的相片时，要求相片的文件名是指定格式，相片的文件"},
      {w.Label3, {66, 40, 0, 0}, "格式只能是JPG、PNG或BMP图片文件。只导入状态为正常读者。"},
      {w.Label5, {48, 56, 0, 0}, "2、为了万一，在导入相片前请最好先备份数据库。"},
      {w.Label6, {48, 72, 0, 0}, "3、开始处理时，请不要做其他工作，保持此界面在屏幕最前端。"},
      {w.Bevel1, {16, 96, 433, 2}, ""},
      {w.Label4, {16, 120, 0, 0}, "相片文件所在目录"},
      {w.edPath, {112, 112, 281, 20}, ""},
      {w.btPath, {392, 110, 57, 21}, "浏览"},
      {w.rbType1, {16, 144, 0, 0}, "读者借书证编号"},
      {w.rbType2, {136, 144, 0, 0}, "读者身份证证号"},
      {w.rbType3, {248, 144, 0, 0}, "读者一卡通卡号"},
      {w.rbType4, {368, 144, 0, 0}, "读者姓名"},
      {w.grpFormat, {16, 168, 433, 60}, "文件名格式 如：A00001.jpg"},
      {w.rbFormat1, {16, 20, 0, 0}, "全部为上面指定类型字符串"},
      {w.rbFormat2, {192, 20, 0, 0}, "为上面指定类型在格式中的第        段"},
      {w.cbPos, {368, 18, 37, 0}, ""},
      {w.rbFormat3, {16, 38, 0, 0}, "为上面指定类型字符串左边         位长字符串"},
      {w.cbLeftLen, {182, 36, 41, 0}, ""},
      {w.cbBackup, {16, 232, 0, 0}, "已经备份好数据库"},
      {w.cbOkNot, {264, 232, 0, 0}, "已有相片的借书证不再重新导入"},
      {w.btImport, {16, 256, 113, 25}, "开始导入"},
      {w.btDryRun, {136, 256, 75, 25}, "预检"},  // added where the progress bar shows during a run
      {w.pBar, {136, 256, 313, 26}, ""},
      {w.btExit, {456, 256, 131, 25}, "退出"},
      {w.grpSelect, {456, 180, 129, 65}, "处理范围"},
      {w.cbbDZ, {8, 16, 113, 0}, ""},
      {w.cbbDW, {8, 40, 113, 0}, ""},
      {w.memError, {16, 296, 569, 145}, ""},
      {w.DBImage1, {467, 10, 110, 120}, ""},
      {w.palImg, {467, 10, 110, 120}, ""},
      {w.imgTmp, {0, 0, 110, 120}, ""},
      {w.lbNo, {472, 136, 0, 0}, ""},
      {w.lbName, {472, 152, 0, 0}, ""},
  };
  for (const Expected& e : controls) {
    SCOPED_TRACE(e.control->objectName().toStdString() + " " + e.text.toStdString());
    EXPECT_EQ(e.control->pos(), e.geometry.topLeft());
    if (e.geometry.width() != 0) {
      EXPECT_EQ(e.control->width(), e.geometry.width());
    }
    if (e.geometry.height() != 0) {
      EXPECT_EQ(e.control->height(), e.geometry.height());
    }
    EXPECT_EQ(TextOf(e.control), e.text);
  }
  for (QLabel* label : {w.Label1, w.Label2, w.Label3, w.Label5, w.Label6}) {
    EXPECT_EQ(label->palette().color(QPalette::WindowText), red) << label->text().toStdString();
  }
  EXPECT_EQ(w.Label4->palette().color(QPalette::WindowText), QColor(Qt::black));
  EXPECT_EQ(w.grpSelect->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
  EXPECT_EQ(w.windowTitle(), "借书证相片批量导入 [V8.2022.9]");
  EXPECT_EQ(w.font().pixelSize(), 12);
  EXPECT_EQ(w.size(), QSize(619 - 16, 488 - 39));  // outer 619 x 488 with the sizeable frame
}

TEST_F(ImportWindowTest, OpensInItsInitialState) {
  auto w = OpenWindow();
  EXPECT_EQ(QApplication::focusWidget(), w->edPath);
  EXPECT_EQ(w->edPath->text(), "");
  EXPECT_TRUE(w->rbType1->isChecked());
  EXPECT_TRUE(w->rbFormat1->isChecked());
  EXPECT_EQ(w->cbPos->count(), 5);
  EXPECT_EQ(w->cbPos->currentText(), "1");
  EXPECT_EQ(w->cbLeftLen->count(), 32);
  EXPECT_EQ(w->cbLeftLen->itemText(31), "32");
  EXPECT_EQ(w->cbLeftLen->currentIndex(), 5);
  EXPECT_EQ(w->cbLeftLen->currentText(), "6");
  EXPECT_FALSE(w->cbBackup->isChecked());
  EXPECT_TRUE(w->cbOkNot->isChecked());
  EXPECT_FALSE(w->btImport->isEnabled());
  EXPECT_TRUE(w->btDryRun->isVisible());
  EXPECT_TRUE(w->btDryRun->isEnabled()) << "a dry run writes nothing: no backup to confirm";
  EXPECT_FALSE(w->pBar->isVisible());
  EXPECT_EQ(w->pBar->minimum(), 0);
  EXPECT_EQ(w->pBar->maximum(), 100);
  EXPECT_FALSE(w->grpSelect->isVisible());
  EXPECT_FALSE(w->DBImage1->isVisible());
  EXPECT_FALSE(w->palImg->isVisible());
  EXPECT_EQ(w->memError->toPlainText(), "提示信息");
  // Two departures from the design, on purpose: the log cannot be edited (an edit or Ctrl+Z would erase
  // what a run reported), and it shows a vertical scroll bar when its lines do not fit.
  EXPECT_TRUE(w->memError->isReadOnly());
  EXPECT_EQ(w->memError->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(w->memError->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
  EXPECT_EQ(w->memError->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(w->lbFile->text(), "");
  EXPECT_EQ(w->lbNo->text(), "");
  EXPECT_EQ(w->lbName->text(), "");
  EXPECT_EQ(w->cbbDZ->currentIndex(), 0);
  EXPECT_EQ(w->cbbDW->currentIndex(), 0);
  EXPECT_EQ(w->cbbDW->currentText(), "此类型全部单位");
  // No hints, except over the covered data-bound view.
  EXPECT_EQ(w->imgTmp->toolTip(), "");
  EXPECT_EQ(w->palImg->toolTip(), "");
  EXPECT_EQ(w->DBImage1->toolTip(), "双击鼠标左键更改相片(大小为110x120x256色BMP最佳)");
}

TEST_F(ImportWindowTest, StartButtonFollowsTheBackupConfirmation) {
  auto w = OpenWindow();
  QTest::mouseClick(w->cbBackup, Qt::LeftButton, {}, QPoint(5, w->cbBackup->height() / 2));
  EXPECT_TRUE(w->btImport->isEnabled());
  QTest::mouseClick(w->cbBackup, Qt::LeftButton, {}, QPoint(5, w->cbBackup->height() / 2));
  EXPECT_FALSE(w->btImport->isEnabled());
}

TEST_F(ImportWindowTest, RangeGroupShowsOnlyWhenMatchingByName) {
  auto w = OpenWindow();
  const std::vector<std::pair<QRadioButton*, bool>> choices = {
      {w->rbType4, true}, {w->rbType2, false}, {w->rbType4, true},
      {w->rbType3, false}, {w->rbType4, true}, {w->rbType1, false}};
  for (const auto& [radio, visible] : choices) {
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(5, radio->height() / 2));
    EXPECT_EQ(w->grpSelect->isVisible(), visible) << radio->text().toStdString();
  }
}

TEST_F(ImportWindowTest, FormatGroupCaptionShowsTheExampleOfTheChosenRule) {
  auto w = OpenWindow();
  const std::vector<std::pair<QRadioButton*, QString>> choices = {
      {w->rbFormat2, "文件名格式 如：A00001_张三_高中202001班.jpg (下划线\"_\"为分隔符)"},
      {w->rbFormat3, "文件名格式 如：A00001张三(左边6位长字符串)"},
      {w->rbFormat1, "文件名格式 如：A00001.jpg"},
  };
  for (const auto& [radio, caption] : choices) {
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(5, radio->height() / 2));
    EXPECT_EQ(w->grpFormat->title(), caption);
  }
}

TEST_F(ImportWindowTest, TypingChangesNoChoiceListButTheDepartmentAcceptsText) {
  auto w = OpenWindow();
  w->rbType4->setChecked(true);
  struct Case {
    QComboBox* list;
    int index;
  };
  for (const Case& c : {Case{w->cbPos, 0}, Case{w->cbLeftLen, 5}, Case{w->cbbDZ, 0}}) {
    c.list->setFocus();
    QTest::keyClicks(c.list, "32 ");
    TypeText(c.list, "全");
    QTest::keyClick(c.list, Qt::Key_Backspace);
    EXPECT_EQ(c.list->currentIndex(), c.index);
    EXPECT_FALSE(c.list->view()->isVisible());
  }
  // Arrow keys still choose from the lists.
  w->cbPos->setFocus();
  QTest::keyClick(w->cbPos, Qt::Key_Down);
  EXPECT_EQ(w->cbPos->currentText(), "2");

  w->cbbDW->setFocus();
  w->cbbDW->lineEdit()->selectAll();
  TypeText(w->cbbDW->lineEdit(), "高中一班");
  EXPECT_EQ(w->cbbDW->currentText(), "高中一班");
}

TEST_F(ImportWindowTest, BrowsePutsTheChosenFolderIntoThePathAndCancelKeepsIt) {
  auto w = OpenWindow();
  QString prompt;
  QString answer = "/srv/photos/";
  w->SetFolderChooser([&](QWidget*, const QString& text, const QString&) {
    prompt = text;
    return answer;
  });
  QTest::mouseClick(w->btPath, Qt::LeftButton);
  EXPECT_EQ(prompt, "请选择要保存的文件目录");
  EXPECT_EQ(w->edPath->text(), "/srv/photos/");
  answer.clear();  // cancelled
  QTest::mouseClick(w->btPath, Qt::LeftButton);
  EXPECT_EQ(w->edPath->text(), "/srv/photos/");
}

TEST_F(ImportWindowTest, FileLabelKeepsItsRightEdge) {
  TJSZImportImages w(session_);
  for (const QString& text : {QString("a.jpg"), QString("/home/library/photos/张三_高中202001班.jpg")}) {
    w.lbFile->setText(text);
    EXPECT_EQ(w.lbFile->geometry().right() + 1, 448) << text.toStdString();
    EXPECT_EQ(w.lbFile->y(), 92);
    EXPECT_EQ(w.lbFile->width(), w.lbFile->sizeHint().width());
  }
}

TEST_F(ImportWindowTest, TabOrderFollowsTheDesign) {
  auto w = OpenWindow();
  w->rbType4->setChecked(true);
  w->cbBackup->setChecked(true);  // the start button takes part once enabled
  w->edPath->setFocus();
  const std::vector<QWidget*> order = {w->edPath, w->btPath,  w->cbOkNot, w->btImport, w->btDryRun, w->btExit,
                                       w->cbBackup, w->memError, w->rbType4, w->cbbDZ, w->cbbDW,
                                       w->rbFormat1, w->cbPos, w->cbLeftLen, w->edPath};
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    ASSERT_EQ(QApplication::focusWidget(), order[i])
        << i << " " << QApplication::focusWidget()->objectName().toStdString();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  // Within a group of radios the arrow keys move the choice.
  w->rbType4->setFocus();
  QTest::keyClick(w->rbType4, Qt::Key_Left);
  EXPECT_TRUE(w->rbType3->isChecked());
  EXPECT_EQ(QApplication::focusWidget(), w->rbType3);
  EXPECT_FALSE(w->grpSelect->isVisible());
}

TEST_F(ImportWindowTest, ScaleEnlargesTheWindowAndItsControls) {
  gScale = 15;
  TJSZImportImages w(session_);
  gScale = 10;
  EXPECT_EQ(w.size(), QSize(603 * 15 / 10, 449 * 15 / 10));
  EXPECT_EQ(w.btExit->geometry(), QRect(456 * 3 / 2, 256 * 3 / 2, 131 * 3 / 2, 25 * 3 / 2));
  EXPECT_EQ(w.rbFormat2->pos(), QPoint(192 * 3 / 2, 20 * 3 / 2));
  EXPECT_EQ(w.font().pixelSize(), 18);
  w.lbFile->setText("A00001.jpg");
  EXPECT_EQ(w.lbFile->geometry().right() + 1, 448 * 3 / 2);
}

TEST_F(ImportWindowTest, ExitClosesTheWindow) {
  auto w = OpenWindow();
  QTest::mouseClick(w->btExit, Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
}

}  // namespace
