#include "frontends/qt/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextOption>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <optional>

#include "frontends/qt/qt_host.h"
#include "frontends/qt/qt_runtime.h"
#include "frontends/qt/text_viewers.h"
#include "platform/clock.h"
#include "ui/history_view.h"
#include "ui/update_set_folder.h"

namespace ui::qt {
namespace {

// Marks the widgets that stand for template controls, for the input guard.
constexpr const char* kControlProperty = "zelControl";
// Tab stops of static texts: every eight average character widths.
constexpr int kTabStopChars = 8;
// The icon control's picture.
constexpr int kIconPixels = 32;
// A label stands beside a combo box when the box begins at most this far (dialog units)
// right of it, on rows that overlap.
constexpr int kLabelGapUnits = 12;
constexpr int kRowSlackUnits = 4;
// The context menu's entry for the service history (not a command of the dialog).
constexpr int kHistoryMenuCommand = -2;
// The context menu's entry for the update set folder.
constexpr int kUpdateSetFolderMenuCommand = -3;
// Group boxes draw their frame through the middle of the title, so the frame encloses what
// the template places below the title's top.
constexpr const char* kGroupBoxStyle =
    "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 0.6em; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 7px;"
    " padding: 0 3px; }";

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

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

// While the dialog changes a list itself, the list's selection signals are not the user's.
constexpr const char* kQuietProperty = "zelQuiet";
class QuietList {
 public:
  explicit QuietList(QListWidget* list) : m_list(list) {
    m_list->setProperty(kQuietProperty, true);
  }
  ~QuietList() { m_list->setProperty(kQuietProperty, false); }
  QuietList(const QuietList&) = delete;
  QuietList& operator=(const QuietList&) = delete;

 private:
  QListWidget* m_list;
};

// An auto radio button: a click always checks it; the window unchecks its group mates.
class RadioButton final : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  void nextCheckState() override { setChecked(true); }
};

// The desktop's folder chooser, opened at `start`; the folder in the system's spelling.
std::optional<std::string> chooseFolder(QWidget* parent, const std::string& start) {
  const QString chosen =
      QFileDialog::getExistingDirectory(parent, QStringLiteral("Update set folder"), qs(start));
  if (chosen.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(chosen).toStdString();
}

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

// Where a sorted list puts a new text: after every entry that is not greater, in plain
// character order.
template <typename TextAt>
int sortedPosition(int count, const std::string& text, TextAt textAt) {
  int low = 0;
  int high = count;
  while (low < high) {
    const int mid = (low + high) / 2;
    if (textAt(mid) <= text) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

}  // namespace

QtDialogWindow::QtDialogWindow(Dialog& dialog, QWidget* parent, ProgressSource progress)
    : QDialog(parent),
      m_dialog(dialog),
      m_template(dialog.dialogTemplate()),
      m_progress(std::move(progress)) {
  setObjectName(QString::number(m_template.id));
  setWindowTitle(qs(m_template.caption));
  setWindowIcon(runtime::applicationIcon());
  // Title bar with the system menu's close button; no minimise, maximise or help button.
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (m_template.systemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  setWindowFlags(flags);
  setWindowModality(Qt::ApplicationModal);

  // The template's font stands for the desktop's sans-serif at the same size.
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(m_template.fontPoints > 0 ? m_template.fontPoints : 8);
  setFont(font);
  const QFontMetrics metrics(font);
  m_units.averageCharWidth =
      averageCharWidth(metrics.horizontalAdvance(QString::fromLatin1(kAverageWidthSample)));
  m_units.charHeight = metrics.height();

  const Rect size = toPixels(Rect{0, 0, m_template.width, m_template.height}, m_units);
  setFixedSize(size.width, size.height);
  buildControls();
}

QtDialogWindow::~QtDialogWindow() {
  runtime::windowEnded(this);
}

void QtDialogWindow::buildControls() {
  std::vector<int> group;
  auto closeGroup = [&] {
    for (int id : group) m_radioGroups[id] = group;
    group.clear();
  };
  std::vector<QWidget*> groupBoxes;
  for (const ControlTemplate& control : m_template.controls) {
    QWidget* widget = createControl(control);
    widget->setProperty(kControlProperty, true);
    if (control.id != -1) {
      widget->setObjectName(QString::number(control.id));
      m_controls.emplace(control.id, widget);
    }
    if (control.kind == ControlKind::GroupBox) groupBoxes.push_back(widget);
    if (control.style & kStyleDisabled) widget->setEnabled(false);
    if (control.style & kStyleHidden) widget->setVisible(false);

    // A radio group runs from a control that starts a group to the next one.
    if (control.style & kStyleGroupStart) closeGroup();
    if (control.kind == ControlKind::RadioButton && control.id != -1) group.push_back(control.id);
  }
  closeGroup();
  // Group boxes frame the controls that follow them in the template: they stay beneath.
  for (QWidget* box : groupBoxes) box->lower();
  alignLabelsAndButtons();
}

void QtDialogWindow::alignLabelsAndButtons() {
  // A one-line label beside a combo box: its text on the baseline of the box's text (the
  // box is as high as its font needs, not as the template's row).
  for (const ControlTemplate& label : m_template.controls) {
    if (label.kind != ControlKind::StaticText || label.id == -1 || label.rect.height > 10) continue;
    for (const ControlTemplate& box : m_template.controls) {
      if (box.kind != ControlKind::ComboBox) continue;
      const int gap = box.rect.x - (label.rect.x + label.rect.width);
      const bool beside = gap >= 0 && gap <= kLabelGapUnits;
      const bool sameRow = label.rect.y + label.rect.height + kRowSlackUnits > box.rect.y &&
                           label.rect.y < box.rect.y + 14 + kRowSlackUnits;
      QWidget* labelWidget = control(label.id);
      QWidget* boxWidget = control(box.id);
      if (!beside || !sameRow || !labelWidget || !boxWidget) continue;
      const int textHeight = QFontMetrics(labelWidget->font()).height();
      const QRect b = boxWidget->geometry();
      labelWidget->setGeometry(labelWidget->x(), b.y() + (b.height() - textHeight) / 2,
                               labelWidget->width(), std::max(textHeight, labelWidget->height()));
      break;
    }
  }
}

QWidget* QtDialogWindow::createControl(const ControlTemplate& control) {
  const QString text = qs(control.text);
  const Rect pixels = toPixels(control.rect, m_units);
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::GroupBox:
      widget = new QGroupBox(text, this);
      widget->setStyleSheet(QString::fromLatin1(kGroupBoxStyle));
      break;
    case ControlKind::StaticText: {
      auto* label = new StaticText(text, (control.style & kStyleCentered) != 0, this);
      label->tabStop = kTabStopChars * m_units.averageCharWidth;
      widget = label;
      break;
    }
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, this);
      button->setAutoDefault(false);
      button->setDefault((control.style & kStyleDefaultButton) != 0);
      connect(button, &QPushButton::clicked, this, [this, id = control.id] { buttonClicked(id); });
      widget = button;
      break;
    }
    case ControlKind::RadioButton: {
      auto* button = new RadioButton(text, this);
      // The dialog object decides which buttons of a group are checked.
      button->setAutoExclusive(false);
      connect(button, &QRadioButton::clicked, this, [this, id = control.id] { radioClicked(id); });
      widget = button;
      break;
    }
    case ControlKind::CheckBox: {
      auto* box = new QCheckBox(text, this);
      connect(box, &QCheckBox::clicked, this, [this, id = control.id] {
        deliver([this, id] { m_dialog.onCommand(id, Notification::Clicked); });
      });
      widget = box;
      break;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(this);
      // Lines begin with "OK    " or "ERROR ": in a fixed-width font their texts line up.
      QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
      fixed.setStyleHint(QFont::Monospace);
      fixed.setPointSize(font().pointSize());
      list->setFont(fixed);
      list->setSortingEnabled((control.style & kStyleSorted) != 0);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
      list->setUniformItemSizes(true);
      list->setVerticalScrollBarPolicy((control.style & kStyleVScroll) ? Qt::ScrollBarAsNeeded
                                                                       : Qt::ScrollBarAlwaysOff);
      if (!(control.style & kStyleBorder)) list->setFrameShape(QFrame::NoFrame);
      connect(list, &QListWidget::itemSelectionChanged, this, [this, list, id = control.id] {
        // Only the user's selection notifies, as in a list box that notifies its parent.
        if (list->property(kQuietProperty).toBool()) return;
        deliver([this, id] { m_dialog.onCommand(id, Notification::SelectionChanged); });
      });
      widget = list;
      break;
    }
    case ControlKind::ComboBox: {
      auto* combo = new DropDownCombo(this, [this, id = control.id] {
        deliver([this, id] { m_dialog.onCommand(id, Notification::DropDown); });
      });
      combo->setEditable(false);
      combo->setMaxVisibleItems(std::max(1, control.rect.height / 8));
      // activated comes from the user only; a selection set by the dialog stays silent.
      connect(combo, &QComboBox::activated, this, [this, id = control.id](int) {
        deliver([this, id] { m_dialog.onCommand(id, Notification::SelectionChanged); });
      });
      widget = combo;
      break;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(this);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setTextVisible(false);
      widget = bar;
      break;
    }
    case ControlKind::Icon: {
      auto* icon = new QLabel(this);
      icon->setPixmap(runtime::applicationIcon().pixmap(kIconPixels, kIconPixels));
      icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = icon;
      break;
    }
  }
  int width = pixels.width;
  int height = pixels.height;
  // A drop-down list's template height includes its open list; the closed box is as high
  // as its font needs.
  if (control.kind == ControlKind::ComboBox) height = widget->sizeHint().height();
  // Buttons of one size in the template are one size on the screen, wherever they stand
  // (edges rounded one by one would differ by a pixel).
  if (control.kind == ControlKind::PushButton) {
    width = mulDiv(control.rect.width, m_units.averageCharWidth, 4);
    height = mulDiv(control.rect.height, m_units.charHeight, 8);
  }
  widget->setGeometry(pixels.x, pixels.y, width, height);
  return widget;
}

QWidget* QtDialogWindow::control(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

bool QtDialogWindow::inputHeldBack() const {
  return m_running && runtime::pumpDepth() > m_pumpDepthAtStart;
}

int QtDialogWindow::run() {
  m_pumpDepthAtStart = runtime::pumpDepth();
  m_running = true;
  runtime::windowStarted(this);
  m_dialog.m_window = this;
  m_dialog.onInitDialog();
  if (!m_ended) {
    QDialog::show();
    // The main window (the one with entries of its own in the system menu) says once why the
    // update set folder wanted could not be used, when it has appeared.
    if (!m_menuEntries.empty() && !updateSetFolderService().startProblem.empty()) {
      QTimer::singleShot(0, this, [this] {
        sayUpdateSetFolderProblem(
            *this, [this](const std::string& start) { return chooseFolder(this, start); });
      });
    }
    QEventLoop loop;
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
  }
  hide();
  m_running = false;
  runtime::windowEnded(this);
  m_dialog.onDestroy();
  m_dialog.m_window = nullptr;
  return m_result;
}

void QtDialogWindow::deliver(const std::function<void()>& handler) {
  if (!m_running || m_ended) return;
  runtime::countDispatch();
  handler();
}

void QtDialogWindow::buttonClicked(int id) {
  if (id == kIdHelp) {
    openHelp();
    return;
  }
  deliver([this, id] {
    if (id == kIdOk) {
      m_dialog.onOk();
    } else if (id == kIdCancel) {
      m_dialog.onCancel();
    } else {
      m_dialog.onCommand(id, Notification::Clicked);
    }
  });
}

void QtDialogWindow::openHelp() {
  // The help command belongs to the application, not to the dialog: the user's manual, inside
  // the program, at the section about this window.
  const std::string url = helpUrlFor(m_template.id);
  bool opened = false;
  if (!url.empty()) {
    opened = runtime::helpOpenerInstalled()
                 ? runtime::openHelp(url)
                 : showHelpViewer(this, helpFilePath(), QUrl(qs(url)).fragment()) != nullptr;
  }
  if (!opened) {
    showMessageBox(
        "The manual cannot be shown: it is not built into this program.\nIt is installed as "
        "manual.md in the program's documentation folder.",
        m_template.caption, MessageBoxKind::Stop);
  }
}

void QtDialogWindow::radioClicked(int id) {
  // An auto radio button unchecks the others of its group before the dialog hears of it.
  const auto group = m_radioGroups.find(id);
  if (group != m_radioGroups.end()) {
    for (int other : group->second) {
      if (other != id) setCheck(other, false);
    }
  }
  deliver([this, id] { m_dialog.onCommand(id, Notification::Clicked); });
}

void QtDialogWindow::systemCommand(int command) {
  deliver([this, command] {
    // An unhandled Close takes its usual course: the dialog's cancel.
    if (!m_dialog.onSystemCommand(command) && command == kSysCommandClose) m_dialog.onCancel();
  });
}

void QtDialogWindow::deliverTermination() {
  withdrawQuestion();
  deliver([this] {
    if (!m_dialog.onSystemCommand(kSysCommandTerminate)) m_dialog.onCancel();
  });
}

void QtDialogWindow::deliverEnd() {
  m_dialog.onSystemCommand(kSysCommandTerminateNow);
}

void QtDialogWindow::closeEvent(QCloseEvent* event) {
  // The title bar's close button is a system command; the dialog decides.
  event->ignore();
  systemCommand(kSysCommandClose);
}

void QtDialogWindow::reject() {
  deliver([this] { m_dialog.onCancel(); });
}

void QtDialogWindow::accept() {
  deliver([this] { m_dialog.onOk(); });
}

void QtDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (!m_template.systemMenu) return;
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("systemMenu"));
  int chosen = 0;
  auto addEntry = [&](const QString& text, int command) {
    QAction* action = menu.addAction(text);
    connect(action, &QAction::triggered, this, [&chosen, command] { chosen = command; });
  };
  if (m_closeInMenu) addEntry(QStringLiteral("&Close"), kSysCommandClose);
  for (const MenuEntry& entry : m_menuEntries) {
    if (!menu.isEmpty()) menu.addSeparator();
    addEntry(qs(entry.text), entry.command);
  }
  // The service history stands beside the dialog's own entries (the About box).
  const HistoryProvider& history = historyProvider();
  if (!m_menuEntries.empty() && history)
    addEntry(QStringLiteral("&History..."), kHistoryMenuCommand);
  // The update set folder, which cannot change while a run goes on.
  const UpdateSetFolderService& folder = updateSetFolderService();
  if (!m_menuEntries.empty() && folder.folder) {
    addEntry(qs(updateSetFolderMenuText(folder.folder())), kUpdateSetFolderMenuCommand);
    menu.actions().back()->setObjectName(QStringLiteral("updateSetFolder"));
    menu.actions().back()->setEnabled(!inputHeldBack());
  }
  if (menu.isEmpty()) return;
  menu.exec(event->globalPos());
  // The command runs once the menu has gone, as a system menu's does.
  if (chosen == kHistoryMenuCommand) {
    runHistoryViewer(this, history());
  } else if (chosen == kUpdateSetFolderMenuCommand) {
    if (!inputHeldBack()) {
      chooseUpdateSetFolder(*this,
                            [this](const std::string& start) { return chooseFolder(this, start); });
    }
  } else if (chosen != 0) {
    systemCommand(chosen);
  }
}

// --- any control ---

void QtDialogWindow::setText(int id, const std::string& text) {
  QWidget* widget = control(id);
  const QString value = qs(text);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
    label->update();
  } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
    box->setTitle(value);
  }
}

std::string QtDialogWindow::text(int id) const {
  QWidget* widget = control(id);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title().toStdString();
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText().toStdString();
  return {};
}

void QtDialogWindow::enable(int id, bool enabled) {
  if (QWidget* widget = control(id)) widget->setEnabled(enabled);
}

bool QtDialogWindow::isEnabled(int id) const {
  QWidget* widget = control(id);
  return widget && widget->isEnabledTo(const_cast<QtDialogWindow*>(this));
}

void QtDialogWindow::show(int id, bool visible) {
  if (QWidget* widget = control(id)) widget->setVisible(visible);
}

bool QtDialogWindow::isVisible(int id) const {
  // The control's own visibility, also before the window itself is shown.
  QWidget* widget = control(id);
  return widget && !widget->isHidden();
}

// --- radio buttons and check boxes ---

void QtDialogWindow::setCheck(int id, bool checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(control(id))) button->setChecked(checked);
}

bool QtDialogWindow::isChecked(int id) const {
  auto* button = qobject_cast<QAbstractButton*>(control(id));
  return button && button->isChecked();
}

// --- list box ---

void QtDialogWindow::listReset(int id) {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list) return;
  const QuietList quiet(list);
  list->clear();
}

int QtDialogWindow::listAdd(int id, const std::string& text) {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list) return -1;
  int index = list->count();
  if (list->isSortingEnabled()) {
    index = sortedPosition(list->count(), text,
                           [list](int i) { return list->item(i)->text().toStdString(); });
  }
  // Sorting by the view would use its own collation; the position is chosen here instead.
  const QuietList quiet(list);
  const bool sorted = list->isSortingEnabled();
  list->setSortingEnabled(false);
  list->insertItem(index, qs(text));
  list->setSortingEnabled(sorted);
  return index;
}

int QtDialogWindow::listCount(int id) const {
  auto* list = qobject_cast<QListWidget*>(control(id));
  return list ? list->count() : 0;
}

std::string QtDialogWindow::listText(int id, int index) const {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list || index < 0 || index >= list->count()) return {};
  return list->item(index)->text().toStdString();
}

void QtDialogWindow::listDelete(int id, int index) {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list || index < 0 || index >= list->count()) return;
  const QuietList quiet(list);
  delete list->takeItem(index);
}

void QtDialogWindow::listSetTopIndex(int id, int index) {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list || index < 0 || index >= list->count()) return;
  list->scrollToItem(list->item(index), QAbstractItemView::PositionAtTop);
}

int QtDialogWindow::listTopIndex(int id) const {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list || list->count() == 0) return 0;
  // Scrolled by whole items, the scroll bar's value is the first line in view.
  return list->verticalScrollBar()->value();
}

void QtDialogWindow::listSetSelection(int id, int index) {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list) return;
  const QuietList quiet(list);
  if (index < 0 || index >= list->count()) {
    list->clearSelection();
    list->setCurrentRow(-1);
  } else {
    list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
  }
}

int QtDialogWindow::listSelection(int id) const {
  auto* list = qobject_cast<QListWidget*>(control(id));
  if (!list) return -1;
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

// --- combo box ---

void QtDialogWindow::comboReset(int id) {
  if (auto* combo = qobject_cast<QComboBox*>(control(id))) combo->clear();
}

int QtDialogWindow::comboAdd(int id, const std::string& text) {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  if (!combo) return -1;
  int index = combo->count();
  const ControlTemplate* controlTemplate = m_template.control(id);
  if (controlTemplate && (controlTemplate->style & kStyleSorted)) {
    index = sortedPosition(combo->count(), text,
                           [combo](int i) { return combo->itemText(i).toStdString(); });
  }
  const int selected = combo->currentIndex();
  combo->insertItem(index, qs(text));
  // A new item never becomes the selection by itself (the first one would in Qt).
  if (selected < 0) combo->setCurrentIndex(-1);
  return index;
}

int QtDialogWindow::comboCount(int id) const {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  return combo ? combo->count() : 0;
}

std::string QtDialogWindow::comboText(int id, int index) const {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  if (!combo || index < 0 || index >= combo->count()) return {};
  return combo->itemText(index).toStdString();
}

void QtDialogWindow::comboSetItemData(int id, int index, int64_t data) {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  if (!combo || index < 0 || index >= combo->count()) return;
  combo->setItemData(index, QVariant::fromValue<qlonglong>(data));
}

int64_t QtDialogWindow::comboItemData(int id, int index) const {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  if (!combo || index < 0 || index >= combo->count()) return 0;
  return combo->itemData(index).toLongLong();
}

void QtDialogWindow::comboSetSelection(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  if (!combo) return;
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

int QtDialogWindow::comboSelection(int id) const {
  auto* combo = qobject_cast<QComboBox*>(control(id));
  return combo ? combo->currentIndex() : -1;
}

// --- progress bar ---

void QtDialogWindow::progressSetRange(int id, int low, int high) {
  if (auto* bar = qobject_cast<QProgressBar*>(control(id))) bar->setRange(low, high);
}

void QtDialogWindow::progressSetPos(int id, int pos) {
  auto* bar = qobject_cast<QProgressBar*>(control(id));
  if (!bar) return;
  const int before = bar->value();
  bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
  // An empty bar (the run has ended, or a new transfer begins) takes the numbers of the
  // last transfer with it; a tick of a run writes them anew.
  if (id == m_progress.transferBarId && bar->value() == bar->minimum()) {
    if (auto* line = qobject_cast<QLabel*>(control(kIdProgressNumbers))) line->clear();
  }
  // A full bar (the run succeeded) shows its numbers at once: the run stops its timer before
  // its last box, so no tick would.
  if (id == m_progress.transferBarId && bar->value() == bar->maximum() && before != bar->value()) {
    showProgressNumbers(true, true);
  }
}

int QtDialogWindow::progressPos(int id) const {
  auto* bar = qobject_cast<QProgressBar*>(control(id));
  return bar ? std::max(bar->value(), bar->minimum()) : 0;
}

// --- window ---

void QtDialogWindow::setTimer(int timerId, uint32_t periodMs) {
  runtime::setTimer(this, timerId, periodMs);
}

void QtDialogWindow::killTimer(int timerId) {
  runtime::killTimer(this, timerId);
}

void QtDialogWindow::deliverTimer(int timerId) {
  deliver([this, timerId] { m_dialog.onTimer(timerId); });
  showProgressNumbers(true, false);
}

void QtDialogWindow::showProgressNumbers(bool sample, bool paintNow) {
  auto* line = qobject_cast<QLabel*>(control(kIdProgressNumbers));
  if (!line || !m_running) return;
  int percent = -1;
  if (auto* bar = qobject_cast<QProgressBar*>(control(m_progress.transferBarId))) {
    const int span = std::max(1, bar->maximum() - bar->minimum());
    percent = (std::max(bar->value(), bar->minimum()) - bar->minimum()) * 100 / span;
  }
  const uint64_t now = platform::clock().nowMicros();
  if (sample && m_progress.transferredBytes) {
    m_meter.sample(now, m_progress.transferredBytes(), percent);
  }
  const QString text = qs(formatProgressNumbers(m_meter.numbers(now)));
  if (text == line->text()) return;
  line->setText(text);
  if (paintNow) line->repaint();
}

namespace {

// A message box of the program's looks. A question has no icon, Yes and No with No as the
// default button (Enter must not confirm what cannot be undone), and no escape.
void setUpBox(QMessageBox& box, const std::string& text, const std::string& caption,
              MessageBoxKind kind) {
  box.setObjectName(QStringLiteral("messageBox"));
  box.setWindowTitle(qs(caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(qs(text));
  switch (kind) {
    case MessageBoxKind::Stop:
      box.setIcon(QMessageBox::Critical);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageBoxKind::Information:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageBoxKind::Question:
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::No);
      // Neither Escape nor the title bar answers a question; one of the two buttons must.
      box.setEscapeButton(static_cast<QAbstractButton*>(nullptr));
      break;
  }
}

}  // namespace

MessageBoxAnswer QtDialogWindow::showMessageBox(const std::string& text, const std::string& caption,
                                                MessageBoxKind kind) {
  // A box of its own supersedes an open question.
  withdrawQuestion();
  // Asked to end: nobody may be left to read it, and the run must come to its end.
  if (runtime::terminationRequested()) {
    return kind == MessageBoxKind::Question ? MessageBoxAnswer::Yes : MessageBoxAnswer::Ok;
  }
  QMessageBox box(isHidden() ? nullptr : this);
  setUpBox(box, text, caption, kind);
  box.setWindowModality(Qt::ApplicationModal);
  int answer = box.exec();
  // A question box that was closed some other way (its window destroyed) counts as No.
  if (kind == MessageBoxKind::Question) {
    return answer == QMessageBox::Yes ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
  }
  return MessageBoxAnswer::Ok;
}

void QtDialogWindow::askQuestion(const std::string& text, const std::string& caption,
                                 std::function<void(MessageBoxAnswer)> answered) {
  withdrawQuestion();
  auto* box = new QMessageBox(this);
  setUpBox(*box, text, caption, MessageBoxKind::Question);
  box->setWindowModality(Qt::WindowModal);
  m_question = box;
  connect(box, &QMessageBox::finished, this,
          [this, box, answered = std::move(answered)](int result) {
            box->deleteLater();
            if (m_question != box) return;  // withdrawn
            m_question = nullptr;
            const MessageBoxAnswer answer =
                result == QMessageBox::Yes ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
            deliver([&answered, answer] { answered(answer); });
          });
  box->open();
}

void QtDialogWindow::withdrawQuestion() {
  QMessageBox* box = m_question;
  if (!box) return;
  m_question = nullptr;
  box->done(QMessageBox::No);
}

int QtDialogWindow::runModal(Dialog& dialog) {
  QtDialogWindow child(dialog, this);
  return child.run();
}

void QtDialogWindow::endDialog(int result) {
  m_result = result;
  m_ended = true;
  if (m_loop) m_loop->exit(0);
}

void QtDialogWindow::repaint() {
  QDialog::repaint();
}

bool QtDialogWindow::pumpMessages() {
  return runtime::pump();
}

void QtDialogWindow::appendSystemMenuItem(int command, const std::string& text) {
  m_menuEntries.push_back(MenuEntry{command, text});
}

void QtDialogWindow::removeSystemMenuClose() {
  m_closeInMenu = false;
}

}  // namespace ui::qt
