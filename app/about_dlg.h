// The About box: program title, version and ownership line, and OK.
#pragma once

#include "ui/dialog_host.h"

class CAboutDlg : public ui::Dialog {
 public:
  const ui::DialogTemplate& dialogTemplate() const override;
};
