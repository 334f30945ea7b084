#include "ui/dialog_host.h"

namespace ui {

const ControlTemplate* DialogTemplate::control(int controlId) const {
  for (const ControlTemplate& c : controls) {
    if (c.id == controlId) return &c;
  }
  return nullptr;
}

void DialogWindow::checkRadioButton(int firstId, int lastId, int id) {
  for (int button = firstId; button <= lastId; ++button) setCheck(button, button == id);
}

}  // namespace ui
