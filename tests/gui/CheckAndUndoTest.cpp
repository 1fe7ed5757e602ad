// What library staff do in the import window around a run, driven as a person would (mouse clicks on the
// buttons, the log's context menu by right click, keys): a dry run (预检) first, then the run; the log,
// which keeps every line in reach; the contact sheet and the report saved afterwards; the photos a run
// replaced put back; the folder chooser picking a zip archive. On Qt's offscreen platform under ctest, and
// again under openbox on a virtual X server (gui_window_under_window_manager). Screenshots go to
// <build>/screenshots, named by the platform.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/FilePath.h"
#include "app/unGlobal.h"
#include "import/frmJSZImportImages.h"
#include "support/SheetPages.h"
#include "support/TestDatabase.h"

namespace {

using testsupport::Backend;
using testsupport::TestDatabase;

const std::string kPhoto = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testorig.jpg";
const std::string kOtherPhoto = std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/testimgp.jpg";

QString Screenshot(QWidget& widget, const QString& name) {
  const QString folder = QString(CARDPHOTO_BINARY_DIR) + "/screenshots";
  QDir().mkpath(folder);
  const QString file = folder + "/" + name + "-" + QGuiApplication::platformName() + ".png";
  QApplication::processEvents();
  EXPECT_TRUE(widget.grab().save(file)) << file.toStdString();
  return file;
}

// Message boxes answered with `answer`, each recorded with what the log said when it opened.
class Boxes {
 public:
  explicit Boxes(const QPlainTextEdit* log, QMessageBox::StandardButton answer = QMessageBox::Yes) {
    previous_ = messageboxes::SetMessageBoxHandler([this, log, answer](QWidget*, const messageboxes::MessageBoxRequest& r) {
      texts.push_back(r.text);
      logs.push_back(log->toPlainText());
      return answer;
    });
  }
  ~Boxes() { messageboxes::SetMessageBoxHandler(std::move(previous_)); }
  std::vector<QString> texts;
  std::vector<QString> logs;  // the log as each box opened

 private:
  messageboxes::MessageBoxHandler previous_;
};

class CheckAndUndoTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    guitest::Application();
    gScale = 10;
    db_ = TestDatabase::Create(GetParam());
    if (!db_) GTEST_SKIP() << testsupport::UnavailableReason(GetParam());
    db_->Exec("insert into lib_duzhe (dz_id, dz_dzlx) values (1, '学生')");
    session_.ConnectString(db_->ConnectionString());
  }

  // Readers with a photo file each; "damaged" readers' files are no pictures.
  void AddReaders(const std::vector<std::string>& cards, const std::vector<std::string>& damaged = {}) {
    for (const std::string& card : cards) {
      db_->Exec("insert into lib_people (pe_id, pe_name, pe_mark, pe_dzlx, pe_deptment) values ('" + card +
                "', '张三', '正常', 1, '计算机学院')");
      const std::filesystem::path file = folder_.path() / (card + ".jpg");
      if (std::find(damaged.begin(), damaged.end(), card) != damaged.end()) {
        std::ofstream(file) << "damaged";
        continue;
      }
      std::filesystem::copy_file(card.back() % 2 ? kPhoto : kOtherPhoto, file);
      std::filesystem::permissions(file, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    }
  }

  void OpenWindow() {
    window_ = std::make_unique<TJSZImportImages>(session_);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    window_->edPath->setText(QString::fromStdString(folder_.path().string()));
  }

  void Click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(widget->width() / 2, widget->height() / 2)); }

  // Right click into the log, then a click on the menu entry whose text starts with `entry`. False when
  // the entry is there but disabled.
  bool ChooseFromLogMenu(const QString& entry) {
    QWidget* viewport = window_->memError->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), viewport->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(viewport, &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    EXPECT_NE(menu, nullptr) << "the log's menu opened";
    if (!menu) return false;
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions())
      if (action->text().startsWith(entry)) chosen = action;
    EXPECT_NE(chosen, nullptr) << entry.toStdString();
    const bool enabled = chosen && chosen->isEnabled();
    if (enabled) {
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
    } else {
      menu->close();
    }
    QApplication::processEvents();
    return enabled;
  }

  QStringList LogLines() const { return window_->memError->toPlainText().split('\n'); }

  std::map<std::string, data::Bytes> Photos() {
    auto rows = db_->AdminSession().Open({"select pe_id, pe_photo from lib_people order by pe_id"});
    std::map<std::string, data::Bytes> photos;
    for (; !rows->Eof(); rows->Next()) {
      std::string card = rows->Text("pe_id");
      card.erase(card.find_last_not_of(' ') + 1);
      photos[card] = rows->AsBytes("pe_photo").value_or(data::Bytes());
    }
    rows->Close();
    return photos;
  }

  std::unique_ptr<TestDatabase> db_;
  data::Session session_;
  guitest::TempFolder folder_;
  guitest::TempFolder saved_;
  std::unique_ptr<TJSZImportImages> window_;
};

// 预检 runs everything but the store: the preview shows each photo as it would be stored, the log and the
// end box say that nothing was written, and the report and the contact sheet can be saved. 开始导入 then
// gives the same failure lines and summary, and stores the photos the sheet showed.
TEST_P(CheckAndUndoTest, DryRunThenRunGiveTheSameLinesAndTheSheetShowsWhatIsStored) {
  AddReaders({"A00001", "A00002", "A00003", "A00004"}, {"A00002"});
  OpenWindow();
  Boxes boxes(window_->memError);
  bool barInsteadOfButton = true;
  QObject::connect(window_->pBar, &QProgressBar::valueChanged, [&] {
    barInsteadOfButton = barInsteadOfButton && window_->pBar->isVisible() && !window_->btDryRun->isVisible();
  });
  Click(window_->btDryRun);  // before the backup is confirmed: a dry run writes nothing

  ASSERT_EQ(boxes.texts.size(), 1u) << "no confirmation: only the end box";
  EXPECT_EQ(boxes.texts[0], "预检完成，没有写入数据库，请检查！");
  EXPECT_TRUE(barInsteadOfButton);
  EXPECT_TRUE(window_->btDryRun->isVisible());
  for (const auto& [card, photo] : Photos()) EXPECT_TRUE(photo.empty()) << card << ": a dry run stores nothing";
  const QImage previewed = window_->imgTmp->pixmap().toImage();
  EXPECT_FALSE(previewed.isNull());
  const QStringList dry = LogLines();
  ASSERT_GE(dry.size(), 5);
  EXPECT_EQ(dry[1], "预检开始（只检查，不写入数据库）：" + QString::fromStdString(folder_.path().string()));
  EXPECT_EQ(dry.back(), "预检完成：没有写入数据库，以上是导入时会有的结果");
  EXPECT_EQ(boxes.logs[0], window_->memError->toPlainText()) << "the log was complete before the box opened";
  EXPECT_EQ(window_->focusWidget(), window_->btDryRun) << "the start button is disabled until the backup is confirmed";
  Screenshot(*window_, "import-window-after-dry-run");

  // The report and the sheet of the dry run, from the log's menu, saved under the names proposed.
  std::filesystem::path chosen;
  window_->SetSaveFileChooser([&](QWidget*, const QString&, const QString& proposed) {
    chosen = saved_.path() / app::PathFromUtf8(QFileInfo(proposed).fileName().toStdString());
    return QString::fromStdString(app::Utf8FromPath(chosen));
  });
  ASSERT_TRUE(ChooseFromLogMenu("保存相片核对表"));
  const std::filesystem::path sheet = chosen;
  EXPECT_TRUE(app::Utf8FromPath(sheet.filename()).starts_with("相片核对表-")) << app::Utf8FromPath(sheet);
  ASSERT_TRUE(ChooseFromLogMenu("保存导入报告"));
  EXPECT_TRUE(app::Utf8FromPath(chosen.filename()).starts_with("导入报告-")) << app::Utf8FromPath(chosen);
  EXPECT_NE(sheettest::ReadText(chosen).find(",ready,"), std::string::npos) << "the dry run's report says ready";

  QCheckBox* backup = window_->cbBackup;
  QTest::mouseClick(backup, Qt::LeftButton, {}, QPoint(5, backup->height() / 2));
  Click(window_->btImport);
  ASSERT_EQ(boxes.texts.size(), 3u);
  EXPECT_EQ(boxes.texts[1], "您确认要导入读者相片吗？");
  EXPECT_EQ(boxes.texts[2], "相片导入已全部完成，请检查！");
  EXPECT_EQ(boxes.logs[2], window_->memError->toPlainText()) << "the summary is in the log before the box opens";
  EXPECT_EQ(window_->focusWidget(), window_->btImport) << "a stray Enter after a run does not quit";

  const QStringList all = LogLines();
  const QStringList real = all.mid(dry.size());
  EXPECT_EQ(dry.mid(2, dry.size() - 3), real) << all.join('\n').toStdString();
  EXPECT_EQ(real.back(), "共选择读者 4 人，导入相片 3 张，失败 1 个，无相片文件 0 人");

  // The dry run's sheet showed the values now stored, byte for byte; the preview showed the last one.
  const std::map<std::string, data::Bytes> stored = Photos();
  const std::vector<sheettest::Cell> cells = sheettest::CellsOf(sheettest::ReadText(sheet));
  ASSERT_EQ(cells.size(), 4u);
  for (const sheettest::Cell& cell : cells) {
    if (cell.card == "A00002") {
      EXPECT_TRUE(cell.base64.empty());
      continue;
    }
    EXPECT_EQ(sheettest::Base64Decode(cell.base64), stored.at(cell.card)) << cell.card;
  }
  QImage last;
  ASSERT_TRUE(last.loadFromData(stored.at("A00004").data(), static_cast<int>(stored.at("A00004").size()), "BMP"));
  EXPECT_EQ(previewed.convertToFormat(QImage::Format_RGB32), last.convertToFormat(QImage::Format_RGB32));
}

// After a run that replaced photos the log's menu puts the old ones back, exactly.
TEST_P(CheckAndUndoTest, TheLogMenuPutsTheReplacedPhotosBack) {
  AddReaders({"A00001", "A00002", "A00003"});
  std::map<std::string, data::Bytes> old;
  for (int i = 1; i <= 3; ++i) {
    const std::string card = "A0000" + std::to_string(i);
    old[card] = testsupport::MakeSamplePhoto(i + 2, i + 3, static_cast<std::uint16_t>(0x1111 * i));
    db_->AdminSession().WritePhoto(card, old[card]);
  }
  OpenWindow();
  Boxes boxes(window_->memError);
  EXPECT_FALSE(ChooseFromLogMenu("恢复被替换的")) << "nothing to put back before a run";
  window_->cbBackup->setChecked(true);
  window_->cbOkNot->setChecked(false);  // replace the photos there are
  Click(window_->btImport);
  ASSERT_EQ(boxes.texts.size(), 2u);
  for (const auto& [card, photo] : Photos()) EXPECT_NE(photo, old[card]) << card << " was replaced";
  EXPECT_TRUE(LogLines().back().startsWith("被替换的 3 张相片已备份在：")) << LogLines().back().toStdString();

  ASSERT_TRUE(ChooseFromLogMenu("恢复被替换的 3 张相片"));
  ASSERT_EQ(boxes.texts.size(), 4u);
  EXPECT_TRUE(boxes.texts[2].startsWith("要把上次导入替换掉的 3 张相片恢复为导入前的相片吗？")) << boxes.texts[2].toStdString();
  EXPECT_TRUE(boxes.texts[3].startsWith("已恢复被替换的相片 3 张，失败 0 个")) << boxes.texts[3].toStdString();
  EXPECT_EQ(Photos(), old);
  const QStringList lines = LogLines();
  EXPECT_EQ(lines[lines.size() - 2], "已恢复被替换的相片 3 张，失败 0 个");
  EXPECT_TRUE(lines.back().startsWith("恢复时被替换的 3 张相片已备份在：")) << "so the undo can be undone";
  EXPECT_FALSE(ChooseFromLogMenu("恢复被替换的")) << "put back once";
  Screenshot(*window_, "import-window-after-undo");
}

// A declined confirmation puts nothing back.
TEST_P(CheckAndUndoTest, ADeclinedUndoChangesNothing) {
  AddReaders({"A00001"});
  db_->AdminSession().WritePhoto("A00001", testsupport::MakeSamplePhoto());
  OpenWindow();
  window_->cbBackup->setChecked(true);
  window_->cbOkNot->setChecked(false);
  {
    Boxes yes(window_->memError);
    Click(window_->btImport);
  }
  const auto replaced = Photos();
  Boxes no(window_->memError, QMessageBox::No);
  ASSERT_TRUE(ChooseFromLogMenu("恢复被替换的 1 张相片"));
  EXPECT_EQ(no.texts.size(), 1u);
  EXPECT_EQ(Photos(), replaced);
  EXPECT_TRUE(ChooseFromLogMenu("恢复被替换的")) << "still on offer";
}

// Thirty failures: the log shows a scroll bar, and the first failure can be scrolled to. The log cannot be
// edited, and its lines can still be copied.
TEST_P(CheckAndUndoTest, TheLogScrollsToAHiddenFailureAndCannotBeErased) {
  std::vector<std::string> cards;
  for (int i = 1; i <= 30; ++i) cards.push_back("B" + std::to_string(10000 + i));
  AddReaders(cards, cards);
  OpenWindow();
  window_->cbBackup->setChecked(true);
  {
    Boxes boxes(window_->memError);
    Click(window_->btImport);
  }
  const QString firstFailure = QString::fromStdString((folder_.path() / "B10001.jpg").string()) + " 图片有问题，未能导入！";
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 32) << "the first line, 30 failures, the summary";
  EXPECT_EQ(lines[1], firstFailure);
  QScrollBar* bar = window_->memError->verticalScrollBar();
  EXPECT_TRUE(bar->isVisible()) << "lines that do not fit show a scroll bar";
  // Whether the whole of a line of the log is in sight.
  auto inSight = [&](int line) {
    QTextCursor cursor(window_->memError->document()->findBlockByNumber(line));
    const QRect start = window_->memError->cursorRect(cursor);
    cursor.movePosition(QTextCursor::EndOfBlock);
    const QRect end = window_->memError->cursorRect(cursor);
    return window_->memError->viewport()->rect().contains(start.united(end));
  };
  EXPECT_TRUE(inSight(31)) << "the summary is in sight";
  EXPECT_FALSE(inSight(1)) << "the first failure is not";
  Screenshot(*window_, "import-window-log-end");

  // Scrolled by the scroll bar, as with the mouse, up to the first failure.
  QTest::mouseClick(window_->memError, Qt::LeftButton, {}, QPoint(50, 50));
  for (int i = 0; i < 100 && !inSight(1); ++i) bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_TRUE(inSight(1)) << "scrolled to the first failure";
  Screenshot(*window_, "import-window-log-start");

  // Typing, deleting and Ctrl+Z change nothing; Ctrl+A, Ctrl+C copy the whole log.
  const QString before = window_->memError->toPlainText();
  window_->memError->setFocus();
  QTest::keyClicks(window_->memError, "x");
  QTest::keyClick(window_->memError, Qt::Key_Backspace);
  QTest::keyClick(window_->memError, Qt::Key_Delete);
  QTest::keyClick(window_->memError, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(window_->memError->toPlainText(), before);
  QTest::keyClick(window_->memError, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(window_->memError, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), before);
}

// The browse button's chooser takes a zip archive as well as a folder.
TEST_P(CheckAndUndoTest, TheChooserPicksAZipArchiveOrAFolder) {
  std::filesystem::create_directory(folder_.path() / app::PathFromUtf8("相片"));
  std::ofstream(folder_.path() / "photos.zip") << "PK";
  std::ofstream(folder_.path() / "A00001.jpg") << "not offered";
  OpenWindow();
  window_->edPath->setText(QString::fromStdString(folder_.path().string()));

  struct Pick {
    QString name;
    bool typed;  // typed into the name field and Enter, else clicked in the list and the choose button
  };
  for (const Pick& pick : {Pick{"photos.zip", false}, Pick{"相片", false}, Pick{"photos.zip", true}}) {
    SCOPED_TRACE(pick.name.toStdString() + (pick.typed ? " typed" : " clicked"));
    window_->edPath->setText(QString::fromStdString(folder_.path().string()));
    bool done = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr) << "the chooser is open";
      // The view the dialog shows: its list or its details.
      QAbstractItemView* list = nullptr;
      for (auto* view : dialog->findChildren<QAbstractItemView*>())
        if ((view->objectName() == "listView" || view->objectName() == "treeView") && view->isVisible()) list = view;
      ASSERT_NE(list, nullptr);
      const auto row = [&] {
        for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
          const QModelIndex index = list->model()->index(row, 0, list->rootIndex());
          if (index.data().toString() == pick.name) return index;
        }
        return QModelIndex();
      };
      QModelIndex item;
      ASSERT_TRUE(QTest::qWaitFor([&] { return (item = row()).isValid(); }, 60000)) << "the folder is listed";
      if (pick.name == "photos.zip" && !pick.typed) Screenshot(*dialog, "folder-or-zip-chooser");
      if (pick.typed) {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setFocus();
        QTest::keyClicks(name, pick.name);
        QTest::keyClick(name, Qt::Key_Return);
      } else {
        // The list goes on filling and sorting after the row appears (on Windows for longer): a click may
        // land where the row is no longer, so it is clicked until it is selected, as a person would.
        ASSERT_TRUE(QTest::qWaitFor([&] {
          item = row();
          list->scrollTo(item);
          QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
          return list->selectionModel()->isSelected(item);
        }, 60000)) << "the row is selected";
        QPushButton* choose = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        EXPECT_TRUE(choose->isEnabled());
        if (!choose->isEnabled()) return dialog->reject();
        Click(choose);
      }
      done = true;
    });
    Click(window_->btPath);
    EXPECT_TRUE(done);
    const std::filesystem::path expected = folder_.path() / app::PathFromUtf8(pick.name.toStdString());
    EXPECT_EQ(window_->edPath->text().toStdString(), app::Utf8FromPath(expected));
  }
}

// A path too long for the room left of the preview is shortened in its middle, never cut at the left.
TEST_P(CheckAndUndoTest, ALongPathIsShortenedInTheMiddle) {
  OpenWindow();
  const QString path = "文件：/home/library/" + QString("很长的文件夹名").repeated(12) + "/A00001_张三_高一1班.jpg";
  window_->lbFile->setText(path);
  EXPECT_EQ(window_->lbFile->geometry().right() + 1, 448);
  EXPECT_GE(window_->lbFile->x(), 16);
  const QString shown = window_->lbFile->text();
  EXPECT_TRUE(shown.startsWith("文件：/home/library/")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("/A00001_张三_高一1班.jpg")) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
  Screenshot(*window_, "import-window-long-path");
}

INSTANTIATE_TEST_SUITE_P(Backends, CheckAndUndoTest, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return testsupport::BackendName(info.param); });

}  // namespace
