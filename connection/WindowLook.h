// How this program's windows look on every platform: the Windows frame their outer sizes assume, the
// classic 12-pixel Song typeface, and the named colours of the windows.
#pragma once

#include <QColor>
#include <algorithm>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QSize>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStringList>
#include <QWidget>

namespace windowlook {

// Window sizes are given as Windows outer sizes (frame included) while every control position is a
// client coordinate. The toolkit sizes client areas, so outer sizes are turned into client sizes with the
// frames below, the only place where they are fixed:
//   sizeable border: 8 px on the left, right and bottom, 31 px on top (caption and border);
//   dialog border:   3 px on the left, right and bottom, 26 px on top (caption and border).
inline constexpr int kSizeableSide = 8;
inline constexpr int kSizeableTop = 31;
inline constexpr int kDialogSide = 3;
inline constexpr int kDialogTop = 26;

inline QSize SizeableClientSize(int outerWidth, int outerHeight) {
  return {outerWidth - 2 * kSizeableSide, outerHeight - kSizeableTop - kSizeableSide};
}
inline int DialogClientHeight(int outerHeight) { return outerHeight - kDialogTop - kDialogSide; }

// "宋体" (SimSun) where it is installed; elsewhere a CJK face with the same cell widths (Chinese characters
// one em, Latin letters and blanks half an em), so that texts padded with blanks line up as designed.
inline QFont SongFont(int pixelSize) {
  QFont font;
  font.setFamilies(QStringList{"SimSun", QStringLiteral("宋体"), "NSimSun", "Noto Sans Mono CJK SC",
                               "Noto Sans CJK SC"});
  font.setPixelSize(pixelSize);
  font.setStyleHint(QFont::TypeWriter);
  return font;
}

inline const QColor kRed{0xFF, 0x00, 0x00};
inline const QColor kNavy{0x00, 0x00, 0x80};
inline const QColor kMaroon{0x80, 0x00, 0x00};
inline const QColor kBlue{0x00, 0x00, 0xFF};
inline const QColor kBlack{0x00, 0x00, 0x00};
inline const QColor k3DLight{0xE3, 0xE3, 0xE3};

// Colour of a label's text (or of a group box's caption).
inline void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, color);
  widget->setPalette(palette);
}

// Places a window in the middle of the primary screen's available area.
inline void CenterOnScreen(QWidget* window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window->move(screen->availableGeometry().center() - window->rect().center());
  }
}

// A label whose text sits on the baseline the Song face would give it. Fallback faces carry more room
// above their glyphs (Noto CJK: ascent 1.16 em against Song's 0.86 em), which would put every label's
// text a few pixels below the controls it was designed to line up with.
class SongLabel : public QLabel {
 public:
  using QLabel::QLabel;

  QSize sizeHint() const override { return QLabel::sizeHint() - QSize(0, Lift()); }
  QSize minimumSizeHint() const override { return QLabel::minimumSizeHint() - QSize(0, Lift()); }

 protected:
  void paintEvent(QPaintEvent* event) override {
    if (Lift() == 0 || text().isEmpty()) {
      QLabel::paintEvent(event);
      return;
    }
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect().adjusted(0, -Lift(), 0, 0), QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), text(), foregroundRole());
  }

 private:
  int Lift() const {
    const int songAscent = qRound(font().pixelSize() * 0.86);
    return std::max(0, fontMetrics().ascent() - songAscent);
  }
};

// A label sized to its text, its top left corner at (x, y).
inline QLabel* PlaceLabel(QWidget* parent, const QString& text, int x, int y, const QColor& color) {
  auto* label = new SongLabel(text, parent);
  SetTextColor(label, color);
  label->move(x, y);
  label->adjustSize();
  return label;
}

}  // namespace windowlook
