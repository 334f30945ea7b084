#include "app/about_dlg.h"

#include "app/dialog_templates.h"

const ui::DialogTemplate& CAboutDlg::dialogTemplate() const {
  return aboutDialogTemplate();
}
