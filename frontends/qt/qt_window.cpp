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

#include "frontends/qt/qt_controls.h"
#include "frontends/qt/qt_host.h"
#include "frontends/qt/qt_runtime.h"
#include "frontends/qt/text_viewers.h"
#include "platform/clock.h"
#include "ui/folder_menu.h"
#include "ui/history_view.h"

namespace ui::qt {
namespace {

// Marks the widgets that stand for template controls, for the input guard.
constexpr const char* kControlProperty = "zelControl";
// A label stands beside a combo box when the box begins at most this far (dialog units)
// right of it, on rows that overlap.
constexpr int kLabelGapUnits = 12;
constexpr int kRowSlackUnits = 4;
// The context menu's entry for the service history (not a command of the dialog).
constexpr int kHistoryMenuCommand = -2;
// The context menu's entry for the update set folder.
constexpr int kUpdateSetFolderMenuCommand = -3;

// The desktop's folder chooser, opened at `start`; the folder in the system's spelling.
std::optional<std::string> chooseFolder(QWidget* parent, const std::string& start) {
  const QString chosen =
      QFileDialog::getExistingDirectory(parent, QStringLiteral("Update set folder"), qs(start));
  if (chosen.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(chosen).toStdString();
}

}  // namespace

QtDialogWindow::QtDialogWindow(Dialog& dialog, QWidget* parent, ProgressSource progress)
    : QDialog(parent), HostedWindow(dialog, runtime::host(), std::move(progress)) {
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
  m_runtime.windowEnded(this);
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
  const int id = control.id;
  // An auto radio button unchecks its group mates before the dialog hears of the click.
  ControlNotify notify = [this, id](Notification notification) { route(id, notification); };
  if (control.kind == ControlKind::RadioButton)
    notify = [this, id](Notification) { radioClicked(id); };
  return makeControl(this, control, m_units, std::move(notify));
}

QWidget* QtDialogWindow::control(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

int QtDialogWindow::run() {
  beginRun();
  initialiseDialog();
  if (!m_ended) {
    QDialog::show();
    if (saysUpdateSetFolderProblem()) {
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
  endRun();
  return m_result;
}

void QtDialogWindow::openHelp() {
  // The help command belongs to the application, not to the dialog: the user's manual, inside
  // the program, at the section about this window.
  const std::string url = helpUrlFor(m_template);
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
  route(id, Notification::Clicked);
}

void QtDialogWindow::closeEvent(QCloseEvent* event) {
  // The title bar's close button is a system command; the dialog decides.
  event->ignore();
  routeSystemCommand(kSysCommandClose);
}

void QtDialogWindow::reject() {
  route(kIdCancel, Notification::Clicked);
}

void QtDialogWindow::accept() {
  route(kIdOk, Notification::Clicked);
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
  if (offersHistory()) addEntry(QStringLiteral("&History..."), kHistoryMenuCommand);
  // The update set folder, which cannot change while a run goes on.
  if (offersUpdateSetFolder()) {
    addEntry(qs(updateSetFolderMenuText(updateSetFolderService().folder())),
             kUpdateSetFolderMenuCommand);
    menu.actions().back()->setObjectName(QStringLiteral("updateSetFolder"));
    menu.actions().back()->setEnabled(!inputHeldBack());
  }
  if (menu.isEmpty()) return;
  menu.exec(event->globalPos());
  // The command runs once the menu has gone, as a system menu's does.
  if (chosen == kHistoryMenuCommand) {
    runHistoryViewer(this, historyProvider()());
  } else if (chosen == kUpdateSetFolderMenuCommand) {
    if (!inputHeldBack()) {
      chooseUpdateSetFolder(*this,
                            [this](const std::string& start) { return chooseFolder(this, start); });
    }
  } else if (chosen != 0) {
    routeSystemCommand(chosen);
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
  progressMoved(id, before, bar->value(), bar->minimum(), bar->maximum());
}

int QtDialogWindow::progressPos(int id) const {
  auto* bar = qobject_cast<QProgressBar*>(control(id));
  return bar ? std::max(bar->value(), bar->minimum()) : 0;
}

// --- window ---

bool QtDialogWindow::progressRange(int id, int& low, int& high) const {
  auto* bar = qobject_cast<QProgressBar*>(control(id));
  if (!bar) return false;
  low = bar->minimum();
  high = bar->maximum();
  return true;
}

bool QtDialogWindow::hasControl(int id) const {
  return control(id) != nullptr;
}

void QtDialogWindow::paintNow(int id) {
  if (QWidget* widget = control(id)) widget->repaint();
}

std::string QtDialogWindow::progressNumbersText(bool sample, int percent) {
  const uint64_t now = platform::clock().nowMicros();
  if (sample && m_progress.transferredBytes) {
    m_meter.sample(now, m_progress.transferredBytes(), percent);
  }
  return formatProgressNumbers(m_meter.numbers(now));
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
  if (const std::optional<MessageBoxAnswer> answer = answerWithoutBox(kind)) return *answer;
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

void QtDialogWindow::wakeLoop() {
  if (m_loop) m_loop->exit(0);
}

void QtDialogWindow::repaint() {
  QDialog::repaint();
}

bool QtDialogWindow::pumpMessages() {
  return runtime::pump();
}

void QtDialogWindow::removeSystemMenuClose() {
  m_closeInMenu = false;
}

}  // namespace ui::qt
