// The widgets that stand for a template's controls in the desktop window: each made and
// styled after its template and placed in dialog units; what the user does with it reaches
// the window as the control's notification.
#pragma once

#include <QListWidget>
#include <QString>
#include <functional>
#include <string>

#include "frontends/qt/dialog_units.h"
#include "ui/dialog_host.h"

class QWidget;

namespace ui::qt {

inline QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

// The user's doing with a control: a click, a selection, a drop-down list about to open.
using ControlNotify = std::function<void(Notification)>;

// The control's widget, a child of `window`, placed by the template in `units`.
QWidget* makeControl(QWidget* window, const ControlTemplate& control, const DialogBaseUnits& units,
                     ControlNotify notify);

// While the dialog changes a list itself, the list's selection signals are not the user's.
class QuietList {
 public:
  explicit QuietList(QListWidget* list);
  ~QuietList();
  QuietList(const QuietList&) = delete;
  QuietList& operator=(const QuietList&) = delete;

 private:
  QListWidget* m_list;
};

}  // namespace ui::qt
