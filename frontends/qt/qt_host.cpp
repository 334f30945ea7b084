#include "frontends/qt/qt_host.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <vector>

#include "frontends/qt/qt_runtime.h"
#include "frontends/qt/qt_window.h"
#include "platform/message_pump.h"
#include "run/run_progress.h"
#include "ui/host_services.h"

namespace ui::qt {
namespace {

// Real time between two looks at the program's clock for due timers while the event loop
// waits. Short, because the clock may run many times faster than real time.
constexpr int kTimerPollMs = 5;
// Rounds in a row in which a pump may report dispatched events before it reports none.
constexpr int kMaxPumpRounds = 16;

// The user's manual as a resource of the program (docs/manual.md, with its pictures beside it).
constexpr const char* kManualResource = ":/help/manual.md";

// The sections of the manual about each window: the main dialog, the configuration dialog
// and the About box.
struct HelpSection {
  int dialogId;
  const char* anchor;
};
constexpr HelpSection kHelpSections[] = {
    {102, "the-main-window"},
    {130, "the-configuration-dialog"},
    {100, "the-main-window"},
};

// Holds back user input to a window's controls, other than its push buttons, while the
// window waits beneath a long operation: a click on a mode button or a port would start
// work of its own in the middle of a run.
class InputGuard final : public QObject {
 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::Wheel:
        break;
      default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || qobject_cast<QPushButton*>(widget)) return false;
    // The control, or a part of it (the viewport of a list).
    for (QWidget* w = widget; w; w = w->parentWidget()) {
      if (!w->property("zelControl").toBool()) continue;
      if (qobject_cast<QPushButton*>(w)) return false;
      auto* window = dynamic_cast<QtDialogWindow*>(w->window());
      return window && window->inputHeldBack();
    }
    return false;
  }
};

struct Runtime {
  std::vector<QtDialogWindow*> windows;
  HostTimers timers;
  HostTermination termination;
  QTimer* poll = nullptr;
  QTimer* signalPoll = nullptr;
  InputGuard* guard = nullptr;
  int pumpDepth = 0;
  int pumpRounds = 0;
  uint64_t dispatched = 0;
  std::function<bool(const std::string&)> helpOpener;
};

Runtime& state() {
  static Runtime runtime;
  return runtime;
}

// The icon: an instrument's front with its screen and the arrow of a download.
void paintIcon(QPainter& painter, int size) {
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 48.0;
  painter.scale(s, s);
  painter.setPen(QPen(QColor(0x1d, 0x2b, 0x3a), 1.5));
  painter.setBrush(QColor(0x3b, 0x5b, 0x7d));
  painter.drawRoundedRect(QRectF(2, 8, 44, 32), 4, 4);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x10, 0x24, 0x18));
  painter.drawRect(QRectF(6, 12, 24, 20));
  painter.setBrush(QColor(0x8f, 0xa9, 0xc4));
  painter.drawEllipse(QRectF(34, 14, 7, 7));
  painter.drawEllipse(QRectF(34, 25, 7, 7));
  QPainterPath arrow;
  arrow.moveTo(15, 14);
  arrow.lineTo(21, 14);
  arrow.lineTo(21, 21);
  arrow.lineTo(25, 21);
  arrow.lineTo(18, 29);
  arrow.lineTo(11, 21);
  arrow.lineTo(15, 21);
  arrow.closeSubpath();
  painter.setBrush(QColor(0x5c, 0xe0, 0x7a));
  painter.drawPath(arrow);
}

class Host final : public DialogHost {
 public:
  explicit Host(ProgressSource progress) : m_progress(std::move(progress)) {
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "zelupdate";
      static char* argv[] = {name, nullptr};
      m_application = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setApplicationName(QStringLiteral("zelupdate"));
    QGuiApplication::setDesktopFileName(QStringLiteral("zelupdate"));
    QApplication::setWindowIcon(runtime::applicationIcon());
  }
  int runModal(Dialog& dialog) override {
    QtDialogWindow window(dialog, nullptr, m_progress);
    return window.run();
  }

 private:
  std::unique_ptr<QApplication> m_application;
  ProgressSource m_progress;
};

}  // namespace

namespace runtime {
namespace {

// The innermost window hears of a request to end as a system command; a window that does
// not handle it ends as with its cancel. At a second request every window hears of the end,
// innermost first, and the program ends.
void serveTermination() {
  Runtime& rt = state();
  rt.termination.serve(
      !rt.windows.empty(), [&rt] { rt.windows.back()->deliverTermination(); },
      [&rt] {
        const std::vector<QtDialogWindow*> windows = rt.windows;
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) (*it)->deliverEnd();
      });
}

}  // namespace

bool terminationRequested() {
  return state().termination.requested();
}

void windowStarted(QtDialogWindow* window) {
  Runtime& rt = state();
  if (rt.windows.empty()) {
    rt.termination.start();
    if (!rt.signalPoll) {
      rt.signalPoll = new QTimer(QCoreApplication::instance());
      rt.signalPoll->setInterval(kTimerPollMs);
      QObject::connect(rt.signalPoll, &QTimer::timeout, [] { serveTermination(); });
    }
    rt.signalPoll->start();
    if (!rt.poll) {
      rt.poll = new QTimer(QCoreApplication::instance());
      rt.poll->setInterval(kTimerPollMs);
      QObject::connect(rt.poll, &QTimer::timeout, [] { serveDueTimers(); });
    }
    if (!rt.guard) {
      rt.guard = new InputGuard;
      rt.guard->setParent(QCoreApplication::instance());
      QCoreApplication::instance()->installEventFilter(rt.guard);
    }
    platform::setMessagePumpHook([] { return pump(); });
    // The reboot wait shows its countdown at each of its tries, also between pumps.
    setBoundedWaitHook([] {
      for (QtDialogWindow* w : state().windows) w->showProgressNumbers(false, true);
    });
  }
  rt.windows.push_back(window);
}

void windowEnded(QtDialogWindow* window) {
  Runtime& rt = state();
  rt.timers.killAll(window);
  const auto it = std::find(rt.windows.begin(), rt.windows.end(), window);
  if (it == rt.windows.end()) return;
  rt.windows.erase(it);
  if (rt.timers.empty() && rt.poll) rt.poll->stop();
  if (rt.windows.empty()) {
    platform::setMessagePumpHook({});
    setBoundedWaitHook({});
    if (rt.signalPoll) rt.signalPoll->stop();
    rt.termination.stop();
  }
}

void setTimer(QtDialogWindow* window, int timerId, uint32_t periodMs) {
  Runtime& rt = state();
  rt.timers.set(window, timerId, periodMs);
  if (rt.poll && !rt.poll->isActive()) rt.poll->start();
}

void killTimer(QtDialogWindow* window, int timerId) {
  Runtime& rt = state();
  rt.timers.kill(window, timerId);
  if (rt.timers.empty() && rt.poll) rt.poll->stop();
}

bool serveDueTimers() {
  // The window is one of the host's while its timers run: windowEnded kills them.
  return state().timers.serveDue([](void* window, int timerId) {
    static_cast<QtDialogWindow*>(window)->deliverTimer(timerId);
  });
}

bool pump() {
  Runtime& rt = state();
  const uint64_t before = rt.dispatched;
  ++rt.pumpDepth;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  serveDueTimers();
  serveTermination();
  --rt.pumpDepth;
  if (rt.dispatched == before) {
    rt.pumpRounds = 0;
    return false;
  }
  if (++rt.pumpRounds > kMaxPumpRounds) {
    rt.pumpRounds = 0;
    return false;
  }
  return true;
}

int pumpDepth() {
  return state().pumpDepth;
}

void countDispatch() {
  ++state().dispatched;
}

bool openHelp(const std::string& url) {
  const Runtime& rt = state();
  return rt.helpOpener && rt.helpOpener(url);
}

bool helpOpenerInstalled() {
  return static_cast<bool>(state().helpOpener);
}

QIcon applicationIcon() {
  static const QIcon icon = [] {
    QIcon result;
    for (int size : {16, 24, 32, 48, 64}) {
      QPixmap pixmap(size, size);
      pixmap.fill(Qt::transparent);
      QPainter painter(&pixmap);
      paintIcon(painter, size);
      painter.end();
      result.addPixmap(pixmap);
    }
    return result;
  }();
  return icon;
}

}  // namespace runtime

bool displayAvailable() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

std::unique_ptr<DialogHost> createDialogHost(ProgressSource progress) {
  return std::make_unique<Host>(std::move(progress));
}

std::string helpFilePath() {
  // The manual is compiled into the program, so that Help works wherever the program runs
  // from: an installation, the build folder or a copy of the program alone.
  const QFileInfo file(QString::fromLatin1(kManualResource));
  return file.isFile() ? file.filePath().toStdString() : std::string();
}

std::string helpUrlFor(int dialogId) {
  const std::string path = helpFilePath();
  if (path.empty()) return {};
  QUrl url(QStringLiteral("qrc") + QString::fromStdString(path));
  for (const HelpSection& section : kHelpSections) {
    if (section.dialogId == dialogId) url.setFragment(QString::fromLatin1(section.anchor));
  }
  return url.toString().toStdString();
}

void setHelpOpener(std::function<bool(const std::string& url)> opener) {
  state().helpOpener = std::move(opener);
}

}  // namespace ui::qt
