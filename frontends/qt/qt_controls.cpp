#include "frontends/qt/qt_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextOption>
#include <algorithm>

#include "frontends/qt/qt_runtime.h"

namespace ui::qt {
namespace {

// Marks a list whose selection the dialog changes itself.
constexpr const char* kQuietProperty = "zelQuiet";
// Tab stops of static texts: every eight average character widths.
constexpr int kTabStopChars = 8;
// The icon control's picture.
constexpr int kIconPixels = 32;
// Group boxes draw their frame through the middle of the title, so the frame encloses what
// the template places below the title's top.
constexpr const char* kGroupBoxStyle =
    "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 0.6em; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px;"
    " padding: 0 3px; }";

// A static text that expands tabs and breaks long lines at word boundaries.
class StaticText final : public QLabel {
 public:
  StaticText(const QString& text, bool centred, QWidget* parent)
      : QLabel(text, parent), m_centred(centred) {}
  int tabStop = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    QTextOption option(m_centred ? Qt::AlignHCenter | Qt::AlignTop : Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WordWrap);
    if (tabStop > 0) option.setTabStopDistance(tabStop);
    painter.drawText(QRectF(rect()), text(), option);
  }

 private:
  bool m_centred;
};

// An auto radio button: a click always checks it; the window unchecks its group mates.
class RadioButton final : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  void nextCheckState() override { setChecked(true); }
};

// A drop-down list that tells the dialog before it opens, so that the dialog can fill it
// again (the ports plugged in since).
class DropDownCombo final : public QComboBox {
 public:
  DropDownCombo(QWidget* parent, std::function<void()> aboutToOpen)
      : QComboBox(parent), m_aboutToOpen(std::move(aboutToOpen)) {}

  void showPopup() override {
    m_aboutToOpen();
    QComboBox::showPopup();
  }

 private:
  std::function<void()> m_aboutToOpen;
};

QWidget* makeGroupBox(QWidget* window, const ControlTemplate& control) {
  auto* box = new QGroupBox(qs(control.text), window);
  box->setStyleSheet(QString::fromLatin1(kGroupBoxStyle));
  return box;
}

QWidget* makeStaticText(QWidget* window, const ControlTemplate& control,
                        const DialogBaseUnits& units) {
  auto* label = new StaticText(qs(control.text), (control.style & kStyleCentered) != 0, window);
  label->tabStop = kTabStopChars * units.averageCharWidth;
  return label;
}

QWidget* makePushButton(QWidget* window, const ControlTemplate& control,
                        const ControlNotify& notify) {
  auto* button = new QPushButton(qs(control.text), window);
  button->setAutoDefault(false);
  button->setDefault((control.style & kStyleDefaultButton) != 0);
  QObject::connect(button, &QPushButton::clicked, window,
                   [notify] { notify(Notification::Clicked); });
  return button;
}

QWidget* makeRadioButton(QWidget* window, const ControlTemplate& control,
                         const ControlNotify& notify) {
  auto* button = new RadioButton(qs(control.text), window);
  // The dialog object decides which buttons of a group are checked.
  button->setAutoExclusive(false);
  QObject::connect(button, &QRadioButton::clicked, window,
                   [notify] { notify(Notification::Clicked); });
  return button;
}

QWidget* makeCheckBox(QWidget* window, const ControlTemplate& control,
                      const ControlNotify& notify) {
  auto* box = new QCheckBox(qs(control.text), window);
  QObject::connect(box, &QCheckBox::clicked, window, [notify] { notify(Notification::Clicked); });
  return box;
}

QWidget* makeListBox(QWidget* window, const ControlTemplate& control, const ControlNotify& notify) {
  auto* list = new QListWidget(window);
  // Lines begin with "OK    " or "ERROR ": in a fixed-width font their texts line up.
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setStyleHint(QFont::Monospace);
  fixed.setPointSize(window->font().pointSize());
  list->setFont(fixed);
  list->setSortingEnabled((control.style & kStyleSorted) != 0);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  list->setUniformItemSizes(true);
  list->setVerticalScrollBarPolicy((control.style & kStyleVScroll) ? Qt::ScrollBarAsNeeded
                                                                   : Qt::ScrollBarAlwaysOff);
  if (!(control.style & kStyleBorder)) list->setFrameShape(QFrame::NoFrame);
  QObject::connect(list, &QListWidget::itemSelectionChanged, window, [list, notify] {
    // Only the user's selection notifies, as in a list box that notifies its parent.
    if (!list->property(kQuietProperty).toBool()) notify(Notification::SelectionChanged);
  });
  return list;
}

QWidget* makeComboBox(QWidget* window, const ControlTemplate& control,
                      const ControlNotify& notify) {
  auto* combo = new DropDownCombo(window, [notify] { notify(Notification::DropDown); });
  combo->setEditable(false);
  combo->setMaxVisibleItems(std::max(1, control.rect.height / 8));
  // activated comes from the user only; a selection set by the dialog stays silent.
  QObject::connect(combo, &QComboBox::activated, window,
                   [notify](int) { notify(Notification::SelectionChanged); });
  return combo;
}

QWidget* makeProgressBar(QWidget* window) {
  auto* bar = new QProgressBar(window);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

QWidget* makeIcon(QWidget* window) {
  auto* icon = new QLabel(window);
  icon->setPixmap(runtime::applicationIcon().pixmap(kIconPixels, kIconPixels));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return icon;
}

QWidget* makeWidget(QWidget* window, const ControlTemplate& control, const DialogBaseUnits& units,
                    const ControlNotify& notify) {
  switch (control.kind) {
    case ControlKind::GroupBox:
      return makeGroupBox(window, control);
    case ControlKind::StaticText:
      return makeStaticText(window, control, units);
    case ControlKind::PushButton:
      return makePushButton(window, control, notify);
    case ControlKind::RadioButton:
      return makeRadioButton(window, control, notify);
    case ControlKind::CheckBox:
      return makeCheckBox(window, control, notify);
    case ControlKind::ListBox:
      return makeListBox(window, control, notify);
    case ControlKind::ComboBox:
      return makeComboBox(window, control, notify);
    case ControlKind::ProgressBar:
      return makeProgressBar(window);
    case ControlKind::Icon:
      return makeIcon(window);
  }
  return new QWidget(window);
}

// Places the widget at its template rectangle.
void place(QWidget* widget, const ControlTemplate& control, const DialogBaseUnits& units) {
  const Rect pixels = toPixels(control.rect, units);
  int width = pixels.width;
  int height = pixels.height;
  // A drop-down list's template height includes its open list; the closed box is as high
  // as its font needs.
  if (control.kind == ControlKind::ComboBox) height = widget->sizeHint().height();
  // Buttons of one size in the template are one size on the screen, wherever they stand
  // (edges rounded one by one would differ by a pixel).
  if (control.kind == ControlKind::PushButton) {
    width = mulDiv(control.rect.width, units.averageCharWidth, 4);
    height = mulDiv(control.rect.height, units.charHeight, 8);
  }
  widget->setGeometry(pixels.x, pixels.y, width, height);
}

}  // namespace

QWidget* makeControl(QWidget* window, const ControlTemplate& control, const DialogBaseUnits& units,
                     ControlNotify notify) {
  QWidget* widget = makeWidget(window, control, units, notify);
  place(widget, control, units);
  return widget;
}

QuietList::QuietList(QListWidget* list) : m_list(list) {
  m_list->setProperty(kQuietProperty, true);
}

QuietList::~QuietList() {
  m_list->setProperty(kQuietProperty, false);
}

}  // namespace ui::qt
