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
#include "ui/host_runtime.h"

namespace ui::qt {
namespace {

// Real time between two looks at the program's clock for due timers while the event loop
// waits. Short, because the clock may run many times faster than real time.
constexpr int kTimerPollMs = 5;

// The user's manual as a resource of the program (docs/manual.md, with its pictures beside it).
constexpr const char* kManualResource = ":/help/manual.md";

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
  HostRuntime host;
  QTimer* poll = nullptr;
  QTimer* signalPoll = nullptr;
  InputGuard* guard = nullptr;
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

QTimer* pollTimer(const std::function<void()>& serve) {
  auto* timer = new QTimer(QCoreApplication::instance());
  timer->setInterval(kTimerPollMs);
  QObject::connect(timer, &QTimer::timeout, serve);
  return timer;
}

// The first window starts the looks at the requests to end and installs the program's
// message pump hook and the input guard; the last one stops and removes them. The timers
// are looked at while any is set.
void firstWindowStarted() {
  Runtime& rt = state();
  if (!rt.signalPoll) rt.signalPoll = pollTimer([] { state().host.serveTermination(); });
  rt.signalPoll->start();
  if (!rt.poll) rt.poll = pollTimer([] { state().host.serveDueTimers(); });
  if (!rt.guard) {
    rt.guard = new InputGuard;
    rt.guard->setParent(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(rt.guard);
  }
  platform::setMessagePumpHook([] { return pump(); });
  // The reboot wait shows its countdown at each of its tries, also between pumps.
  setBoundedWaitHook([] { state().host.showProgressNumbersNow(); });
}

void lastWindowEnded() {
  platform::setMessagePumpHook({});
  setBoundedWaitHook({});
  if (state().signalPoll) state().signalPoll->stop();
}

void timersChanged() {
  Runtime& rt = state();
  if (!rt.poll) return;
  if (rt.host.timers.empty()) {
    rt.poll->stop();
  } else if (!rt.poll->isActive()) {
    rt.poll->start();
  }
}

}  // namespace

HostRuntime& host() {
  HostRuntime& host = state().host;
  host.attachToolkit(firstWindowStarted, lastWindowEnded, timersChanged);
  return host;
}

bool pump() {
  return state().host.pump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
}

bool openHelp(const std::string& url) {
  const HostRuntime& host = state().host;
  return host.helpOpener && host.helpOpener(url);
}

bool helpOpenerInstalled() {
  return static_cast<bool>(state().host.helpOpener);
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

std::string helpUrlFor(const DialogTemplate& dialog) {
  const std::string path = helpFilePath();
  if (path.empty()) return {};
  QUrl url(QStringLiteral("qrc") + QString::fromStdString(path));
  if (!dialog.helpSection.empty()) url.setFragment(QString::fromStdString(dialog.helpSection));
  return url.toString().toStdString();
}

void setHelpOpener(std::function<bool(const std::string& url)> opener) {
  state().host.helpOpener = std::move(opener);
}

}  // namespace ui::qt
