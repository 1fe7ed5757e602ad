#include "import/frmJSZImportImages.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <string>

#include "app/unGlobal.h"
#include "connection/MessageBoxes.h"
#include "connection/WindowLook.h"
#include "import/ReaderLists.h"

namespace {

constexpr int kOuterWidth = 619;
constexpr int kOuterHeight = 488;
constexpr int kFileLabelLeft = 16;  // the window's left margin: a longer path is shortened in its middle
constexpr int kFileLabelRight = 448;
constexpr int kFileLabelTop = 92;

const char* const kFolderPrompt = "请选择要保存的文件目录";
const char* const kExactCaption = "文件名格式 如：A00001.jpg";
const char* const kSegmentCaption = "文件名格式 如：A00001_张三_高中202001班.jpg (下划线\"_\"为分隔符)";
const char* const kPrefixCaption = "文件名格式 如：A00001张三(左边6位长字符串)";

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Where the folder chooser opens for the text of the folder field: that folder, or, when it does not exist
// (mistyped, removed, or an archive file), the nearest folder above it that does. Empty for an empty field.
QString ExistingFolderFor(const QString& fieldText) {
  QString path = fieldText.trimmed();
  if (path.isEmpty()) return {};
  for (QFileInfo info(QDir::cleanPath(QDir::fromNativeSeparators(path))); !info.filePath().isEmpty();
       info.setFile(info.path())) {
    if (info.isDir()) return QDir::toNativeSeparators(info.absoluteFilePath());
    if (info.path() == info.filePath()) break;  // the top, and it does not exist
  }
  return {};
}

template <class Button>
Button* PlaceButton(QWidget* parent, const QString& text, int x, int y) {
  auto* button = new Button(text, parent);
  button->move(x, y);
  button->adjustSize();
  return button;
}

QComboBox* PlaceList(QWidget* parent, int x, int y, int width, const QStringList& items) {
  auto* list = new QComboBox(parent);
  list->setGeometry(x, y, width, 20);
  list->addItems(items);
  return list;
}

QStringList NumberItems(int count) {
  QStringList items;
  for (int i = 1; i <= count; ++i) items << QString::number(i);
  return items;
}

int MulDiv(int value, int multiplier, int divider) { return value * multiplier / divider; }

// As in a dialog, Tab stops only at the checked radio of a group and the arrow keys move within the
// group. The explicit button group keeps the toolkit from treating the radios of a group box and those of
// the window around it as one group.
void MakeRadioGroup(QWidget* owner, std::initializer_list<QRadioButton*> radios) {
  auto* group = new QButtonGroup(owner);
  for (QRadioButton* radio : radios) {
    group->addButton(radio);
    auto update = [radio](bool checked) {
      radio->setFocusPolicy(checked ? Qt::StrongFocus : Qt::FocusPolicy(Qt::StrongFocus & ~Qt::TabFocus));
    };
    update(radio->isChecked());
    QObject::connect(radio, &QRadioButton::toggled, radio, update);
  }
}

}  // namespace

RightAnchoredLabel::RightAnchoredLabel(QWidget* parent, int left, int right, int top)
    : windowlook::SongLabel(parent), left_(left), right_(right), top_(top) {
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Anchor();
}

void RightAnchoredLabel::setText(const QString& text) {
  full_ = text;
  Anchor();
}

void RightAnchoredLabel::SetAnchor(int left, int right, int top) {
  left_ = left;
  right_ = right;
  top_ = top;
  Anchor();
}

// The whole text when it fits between the left limit and the right edge; otherwise the text shortened in
// its middle to the room left once the label's own margins are taken off.
void RightAnchoredLabel::Anchor() {
  const int room = right_ - left_;
  SongLabel::setText(full_);
  adjustSize();
  if (width() > room) {
    const int margins = width() - fontMetrics().horizontalAdvance(full_);
    for (int textWidth = room - margins; textWidth > 0; textWidth -= 2) {
      SongLabel::setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, textWidth));
      adjustSize();
      if (width() <= room) break;
    }
  }
  move(right_ - width(), top_);
}

TJSZImportImages::TJSZImportImages(data::Session& libDB, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      libDB_(libDB),
      chooseFolder_(ChooseFolderOrArchive) {
  setWindowTitle(Text("借书证相片批量导入 [V8.2022.9]"));
  setFont(windowlook::SongFont(12));
  resize(windowlook::SizeableClientSize(kOuterWidth, kOuterHeight));
  BuildInstructions();
  BuildOptions();
  BuildFormatGroup();
  BuildSelectGroup();
  BuildRunArea();
  SetTabOrder();
  NameControls();
  ConnectHandlers();
  edPath->setFocus();
  FormCreate();
  windowlook::CenterOnScreen(this);
}

void TJSZImportImages::BuildInstructions() {
  using windowlook::kRed;
  using windowlook::PlaceLabel;
  Label1 = PlaceLabel(this, Text("注意："), 16, 8, kRed);
  Label2 = PlaceLabel(this, Text("1、导入借书证的相片时，要求相片的文件名是指定格式，相片的文件"), 48, 24, kRed);
  Label3 = PlaceLabel(this, Text("格式只能是JPG、PNG或BMP图片文件。只导入状态为正常读者。"), 66, 40, kRed);
  Label5 = PlaceLabel(this, Text("2、为了万一，在导入相片前请最好先备份数据库。"), 48, 56, kRed);
  Label6 = PlaceLabel(this, Text("3、开始处理时，请不要做其他工作，保持此界面在屏幕最前端。"), 48, 72, kRed);
  Bevel1 = new QFrame(this);
  Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  Bevel1->setGeometry(16, 96, 433, 2);
  Label4 = PlaceLabel(this, Text("相片文件所在目录"), 16, 120, windowlook::kBlack);
}

void TJSZImportImages::BuildOptions() {
  edPath = new QLineEdit(this);
  edPath->setGeometry(112, 112, 281, 20);
  btPath = new QPushButton(Text("浏览"), this);
  btPath->setGeometry(392, 110, 57, 21);

  rbType1 = PlaceButton<QRadioButton>(this, Text("读者借书证编号"), 16, 144);
  rbType2 = PlaceButton<QRadioButton>(this, Text("读者身份证证号"), 136, 144);
  rbType3 = PlaceButton<QRadioButton>(this, Text("读者一卡通卡号"), 248, 144);
  rbType4 = PlaceButton<QRadioButton>(this, Text("读者姓名"), 368, 144);
  rbType1->setChecked(true);

  cbBackup = PlaceButton<QCheckBox>(this, Text("已经备份好数据库"), 16, 232);
  cbOkNot = PlaceButton<QCheckBox>(this, Text("已有相片的借书证不再重新导入"), 264, 232);
  cbOkNot->setChecked(true);

  btImport = new QPushButton(Text("开始导入"), this);
  btImport->setGeometry(16, 256, 113, 25);
  btImport->setEnabled(false);
  // In the free space of the button row, which the progress bar takes while a run lasts (the button is
  // hidden then). A dry run writes nothing, so it needs no confirmed backup.
  btDryRun = new QPushButton(Text("预检"), this);
  btDryRun->setGeometry(136, 256, 75, 25);
  pBar = new QProgressBar(this);
  pBar->setGeometry(136, 256, 313, 26);
  pBar->setRange(0, 100);
  pBar->setValue(0);
  pBar->setTextVisible(false);
  pBar->hide();
  btExit = new QPushButton(Text("退出"), this);
  btExit->setGeometry(456, 256, 131, 25);
  // Enter presses the focused button, as in every window on Windows (the toolkit does so only in dialogs).
  for (QPushButton* button : {btPath, btImport, btDryRun, btExit}) {
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoDefault(true);
  }
}

void TJSZImportImages::BuildFormatGroup() {
  grpFormat = new QGroupBox(Text(kExactCaption), this);
  grpFormat->setGeometry(16, 168, 433, 60);
  rbFormat1 = PlaceButton<QRadioButton>(grpFormat, Text("全部为上面指定类型字符串"), 16, 20);
  rbFormat2 = PlaceButton<QRadioButton>(grpFormat, Text("为上面指定类型在格式中的第        段"), 192, 20);
  rbFormat3 = PlaceButton<QRadioButton>(grpFormat, Text("为上面指定类型字符串左边         位长字符串"), 16, 38);
  rbFormat1->setChecked(true);
  cbPos = PlaceList(grpFormat, 368, 18, 37, NumberItems(5));
  cbPos->setCurrentIndex(0);
  cbLeftLen = PlaceList(grpFormat, 182, 36, 41, NumberItems(32));
  cbLeftLen->setCurrentIndex(5);
  // The lists lie over the blanks of their radios' captions.
  cbPos->raise();
  cbLeftLen->raise();
}

void TJSZImportImages::BuildSelectGroup() {
  grpSelect = new QGroupBox(Text("处理范围"), this);
  grpSelect->setGeometry(456, 180, 129, 65);
  windowlook::SetTextColor(grpSelect, windowlook::kMaroon);
  cbbDZ = PlaceList(grpSelect, 8, 16, 113, {});
  cbbDW = PlaceList(grpSelect, 8, 40, 113, {Text(photoimport::kAllDepartmentsEntry)});
  cbbDW->setEditable(true);
  cbbDW->setInsertPolicy(QComboBox::NoInsert);
  cbbDW->setCurrentIndex(-1);
  grpSelect->hide();
}

void TJSZImportImages::BuildRunArea() {
  memError = new QPlainTextEdit(Text("提示信息"), this);
  memError->setGeometry(16, 296, 569, 145);
  memError->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A failure line scrolled out of sight is a failure nobody is told of: the scroll bar shows when the
  // lines do not fit. The log is what the runs reported: it can be read, selected and copied, not edited
  // (an edit or Ctrl+Z would erase it).
  memError->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  memError->setReadOnly(true);
  memError->setUndoRedoEnabled(false);
  memError->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  memError->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memError->setTabChangesFocus(true);  // Tab moves on, as in every other control
  QPalette palette = memError->palette();
  palette.setColor(QPalette::Base, windowlook::k3DLight);
  memError->setPalette(palette);

  // The data-bound view of the stored photo lies under the panel that shows the last normalized photo;
  // both stay hidden until a run. Only DBImage1 has a hint, and it is covered.
  DBImage1 = new QLabel(this);
  DBImage1->setGeometry(467, 10, 110, 120);
  DBImage1->setToolTip(Text("双击鼠标左键更改相片(大小为110x120x256色BMP最佳)"));
  DBImage1->hide();
  palImg = new QFrame(this);
  palImg->setFrameStyle(QFrame::NoFrame);
  palImg->setGeometry(467, 10, 110, 120);
  palImg->hide();
  imgTmp = new QLabel(palImg);
  imgTmp->setGeometry(0, 0, 110, 120);
  imgTmp->setAlignment(Qt::AlignCenter);

  lbFile = new RightAnchoredLabel(this, kFileLabelLeft, kFileLabelRight, kFileLabelTop);
  lbFile->setText("lbFile");
  // Left-aligned, with room up to the window's right edge for whatever card number or name a run shows.
  lbNo = windowlook::PlaceLabel(this, "lbNo", 472, 136, windowlook::kBlack);
  lbName = windowlook::PlaceLabel(this, "lbName", 472, 152, windowlook::kBlack);
  for (QLabel* label : {lbNo, lbName}) label->resize(width() - label->x(), label->height());
}

void TJSZImportImages::SetTabOrder() {
  const QList<QWidget*> order = {edPath,   btPath,  cbOkNot, btImport, btDryRun, btExit, DBImage1,  palImg,
                                 pBar,     cbBackup, memError, rbType1, rbType2,   rbType3,   rbType4,
                                 cbbDZ,    cbbDW,   rbFormat1, rbFormat2, cbPos, rbFormat3, cbLeftLen};
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void TJSZImportImages::NameControls() {
#define NAME_CONTROL(control) control->setObjectName(#control)
  NAME_CONTROL(Label1), NAME_CONTROL(Label2), NAME_CONTROL(Label3), NAME_CONTROL(Label5), NAME_CONTROL(Label6);
  NAME_CONTROL(Bevel1), NAME_CONTROL(Label4), NAME_CONTROL(edPath), NAME_CONTROL(btPath);
  NAME_CONTROL(rbType1), NAME_CONTROL(rbType2), NAME_CONTROL(rbType3), NAME_CONTROL(rbType4);
  NAME_CONTROL(grpFormat), NAME_CONTROL(rbFormat1), NAME_CONTROL(rbFormat2), NAME_CONTROL(cbPos);
  NAME_CONTROL(rbFormat3), NAME_CONTROL(cbLeftLen), NAME_CONTROL(cbBackup), NAME_CONTROL(cbOkNot);
  NAME_CONTROL(btImport), NAME_CONTROL(btDryRun), NAME_CONTROL(pBar), NAME_CONTROL(btExit), NAME_CONTROL(grpSelect);
  NAME_CONTROL(cbbDZ), NAME_CONTROL(cbbDW), NAME_CONTROL(memError), NAME_CONTROL(DBImage1);
  NAME_CONTROL(palImg), NAME_CONTROL(imgTmp), NAME_CONTROL(lbFile), NAME_CONTROL(lbNo), NAME_CONTROL(lbName);
#undef NAME_CONTROL
}

void TJSZImportImages::ConnectHandlers() {
  memError->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(memError, &QPlainTextEdit::customContextMenuRequested, this, &TJSZImportImages::ShowLogMenu);
  connect(btPath, &QPushButton::clicked, this, &TJSZImportImages::btPathClick);
  connect(cbBackup, &QCheckBox::toggled, this, &TJSZImportImages::cbBackupClick);
  for (QRadioButton* radio : {rbType1, rbType2, rbType3, rbType4}) {
    connect(radio, &QRadioButton::toggled, this, &TJSZImportImages::rbType4Click);
  }
  for (QRadioButton* radio : {rbFormat1, rbFormat2, rbFormat3}) {
    connect(radio, &QRadioButton::toggled, this, &TJSZImportImages::rbFormat1Click);
  }
  MakeRadioGroup(this, {rbType1, rbType2, rbType3, rbType4});
  MakeRadioGroup(this, {rbFormat1, rbFormat2, rbFormat3});
  // A choice by the user, not a change made by the program, refills the departments.
  connect(cbbDZ, &QComboBox::activated, this, &TJSZImportImages::cbbDZChange);
  connect(btImport, &QPushButton::clicked, this, &TJSZImportImages::btImportClick);
  connect(btDryRun, &QPushButton::clicked, this, &TJSZImportImages::btDryRunClick);
  connect(btExit, &QPushButton::clicked, this, &TJSZImportImages::btExitClick);
  // The key filters see the keys of the closed lists and of their open drop-downs.
  for (QComboBox* list : {cbbDZ, cbPos, cbLeftLen}) {
    list->installEventFilter(this);
    list->view()->installEventFilter(this);
  }
}

void TJSZImportImages::FormCreate() {
  resize(MulDiv(width(), gScale, 10), MulDiv(height(), gScale, 10));
  if (gScale != 10) ScaleBy(gScale * 80, 800);
  lbNo->clear();
  lbName->clear();
  lbFile->setText(QString());
  FillCategoryList();
}

// Scales every control's position and size, and the fonts, by multiplier / divider.
void TJSZImportImages::ScaleBy(int multiplier, int divider) {
  auto scaleFont = [&](QWidget* widget) {
    QFont font = widget->font();
    font.setPixelSize(std::max(1, MulDiv(font.pixelSize(), multiplier, divider)));
    widget->setFont(font);
  };
  scaleFont(this);
  for (QWidget* control : findChildren<QWidget*>()) {
    if (control->isWindow()) continue;
    const QRect g = control->geometry();
    control->setGeometry(MulDiv(g.x(), multiplier, divider), MulDiv(g.y(), multiplier, divider),
                         MulDiv(g.width(), multiplier, divider), MulDiv(g.height(), multiplier, divider));
    if (control->testAttribute(Qt::WA_SetFont)) scaleFont(control);
  }
  lbFile->SetAnchor(MulDiv(kFileLabelLeft, multiplier, divider), MulDiv(kFileLabelRight, multiplier, divider),
                    MulDiv(kFileLabelTop, multiplier, divider));
}

void TJSZImportImages::FillCategoryList() {
  const photoimport::ListEntries list = photoimport::ReadCategoryList(libDB_);
  cbbDZ->clear();
  for (const std::string& entry : list.entries) cbbDZ->addItem(QString::fromStdString(entry));
  if (list.failure) {
    // The filling ended early: neither list has a selected entry.
    cbbDZ->setCurrentIndex(-1);
    cbbDW->setCurrentIndex(-1);
    messageboxes::ShowStandardErrorBox(nullptr, *list.failure);
    return;
  }
  cbbDZ->setCurrentIndex(0);
  cbbDW->setCurrentIndex(0);
}

void TJSZImportImages::cbbDZChange() {
  if (running_) return;  // the session belongs to the run's store lanes while a run lasts
  const photoimport::ListEntries list =
      photoimport::ReadDepartmentList(libDB_, cbbDZ->currentIndex(), cbbDZ->currentText().toStdString());
  cbbDW->clear();
  for (const std::string& entry : list.entries) cbbDW->addItem(QString::fromStdString(entry));
  cbbDW->setCurrentIndex(-1);  // a run treats "nothing selected" like index 0
  if (list.failure) messageboxes::ShowStandardErrorBox(this, *list.failure);
}

void TJSZImportImages::btPathClick() {
  const QString folder = chooseFolder_(this, Text(kFolderPrompt), ExistingFolderFor(edPath->text()));
  if (!folder.isEmpty()) edPath->setText(folder);
}

void TJSZImportImages::cbBackupClick() { btImport->setEnabled(cbBackup->isChecked()); }

void TJSZImportImages::rbType4Click() { grpSelect->setVisible(rbType4->isChecked()); }

void TJSZImportImages::rbFormat1Click() {
  if (rbFormat1->isChecked()) grpFormat->setTitle(Text(kExactCaption));
  if (rbFormat2->isChecked()) grpFormat->setTitle(Text(kSegmentCaption));
  if (rbFormat3->isChecked()) grpFormat->setTitle(Text(kPrefixCaption));
}

// Only Enter passes: the category is chosen from the list, never typed.
bool TJSZImportImages::cbbDZKeyPress(const QString& keyText) const { return keyText != "\r"; }

// Every key is discarded: the segment number and the prefix length are chosen from their lists.
bool TJSZImportImages::cbPosKeyPress(const QString&) const { return true; }

bool TJSZImportImages::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Keys that type a character; navigation keys (arrows, Tab) are not filtered.
    const bool typesCharacter = !key->text().isEmpty() && key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab;
    if (typesCharacter) {
      if (watched == cbbDZ || watched == cbbDZ->view()) return cbbDZKeyPress(key->text());
      return cbPosKeyPress(key->text());
    }
  }
  return QWidget::eventFilter(watched, event);
}

// btImportClick: see frmJSZImportImagesRun.cpp.

void TJSZImportImages::btExitClick() {
  if (running_) {
    AskToStopRun();
    return;
  }
  close();
}
