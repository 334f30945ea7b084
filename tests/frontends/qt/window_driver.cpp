#include "tests/frontends/qt/window_driver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace qt_test {
namespace {

constexpr int kPollMs = 2;

qint64 realMs() {
  return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

QWidget* dialogWindow(int dialogId) {
  const QString name = QString::number(dialogId);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == name && widget->isVisible()) return widget;
  }
  return nullptr;
}

QWidget* controlOf(int dialogId, int controlId) {
  QWidget* window = dialogWindow(dialogId);
  if (!window) return nullptr;
  return window->findChild<QWidget*>(QString::number(controlId), Qt::FindDirectChildrenOnly);
}

QMessageBox* activeMessageBox() {
  return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

void clickNow(QWidget* widget) {
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

void clickLater(QWidget* widget) {
  QPointer<QWidget> target(widget);
  QTimer::singleShot(0, [target] {
    if (target) clickNow(target);
  });
}

WindowDriver::WindowDriver(int timeoutMs) : m_timeoutMs(timeoutMs) {
  m_timer.setInterval(kPollMs);
  QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
}

WindowDriver::~WindowDriver() {
  m_timer.stop();
}

WindowDriver& WindowDriver::then(const std::string& what, Step step) {
  m_steps.push_back(Entry{what, std::move(step)});
  return *this;
}

WindowDriver& WindowDriver::waitForDialog(int dialogId) {
  return then("dialog " + std::to_string(dialogId) + " shown",
              [dialogId] { return dialogWindow(dialogId) != nullptr; });
}

WindowDriver& WindowDriver::click(int dialogId, int controlId) {
  return then("click " + std::to_string(controlId) + " of " + std::to_string(dialogId),
              [dialogId, controlId] {
                QWidget* widget = controlOf(dialogId, controlId);
                // Only the window that has the input (no box above it) takes the click.
                if (!widget || !widget->isEnabled() || activeMessageBox()) return false;
                if (QApplication::activeModalWidget() != widget->window()) return false;
                clickLater(widget);
                return true;
              });
}

WindowDriver& WindowDriver::answer(QMessageBox::StandardButton button) {
  return then("a message box answered", [this, button] {
    QMessageBox* box = activeMessageBox();
    if (!box || !box->isVisible()) return false;
    m_boxes.push_back(SeenBox{box->text().toStdString(), box->windowTitle().toStdString(),
                              box->icon(), box->standardButtons()});
    QAbstractButton* target = box->button(button);
    if (!target) {
      ADD_FAILURE() << "box without the button asked for: " << box->text().toStdString();
      target = box->buttons().front();
    }
    clickLater(target);
    return true;
  });
}

WindowDriver& WindowDriver::answer(const std::string& text, QMessageBox::StandardButton button) {
  then("the box \"" + text + "\"", [this, text] {
    QMessageBox* box = activeMessageBox();
    if (!box || !box->isVisible()) return false;
    if (box->text().toStdString() != text) {
      ADD_FAILURE() << "box shown: \"" << box->text().toStdString() << "\"\nexpected: \"" << text
                    << "\"";
    }
    return true;
  });
  return answer(button);
}

WindowDriver& WindowDriver::check(const std::string& what, std::function<void()> action) {
  return then(what, [action = std::move(action)] {
    action();
    return true;
  });
}

void WindowDriver::start() {
  m_stepStartedMs = realMs();
  m_timer.start();
}

void WindowDriver::poll() {
  if (done()) {
    m_timer.stop();
    return;
  }
  // A step's clicks are posted; it is done in one poll, the next step waits for the next.
  Entry& entry = m_steps[m_next];
  if (entry.step()) {
    ++m_next;
    m_stepStartedMs = realMs();
    return;
  }
  if (realMs() - m_stepStartedMs > m_timeoutMs) {
    // A window that waits for an answer nobody gives would hang the suite: give up loudly.
    std::fprintf(stderr, "window driver: step %zu (%s) not done within %d ms\n", m_next,
                 entry.what.c_str(), m_timeoutMs);
    if (QMessageBox* box = activeMessageBox()) {
      std::fprintf(stderr, "box shown: %s\n", box->text().toStdString().c_str());
    }
    std::fflush(stderr);
    std::_Exit(1);
  }
}

}  // namespace qt_test
