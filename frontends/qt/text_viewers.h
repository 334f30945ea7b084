// The two read-only viewers of the desktop window: the help (the user's manual rendered from
// its Markdown, opened at a section) and the service history (a table of the records).
#pragma once

#include <QString>
#include <string>

#include "ui/history_view.h"

class QWidget;
class QDialog;

namespace ui::qt {

// The anchor of a heading as the manual's links name it: lower case, blanks to '-', other
// punctuation dropped ("The desktop window" -> "the-desktop-window").
QString headingAnchor(const QString& heading);

// Shows the Markdown file (a path, or a resource path ":/...") in a window of its own at the
// heading with `anchor` (the top when none has it), without a modal loop: the program goes on while
// it is open. One viewer per parent; a second call brings it back at the new section. nullptr when
// the file cannot be read.
QDialog* showHelpViewer(QWidget* parent, const std::string& markdownPath, const QString& anchor);

// The history table, modal, newest row selected and in view.
void runHistoryViewer(QWidget* parent, const HistoryTable& table);

}  // namespace ui::qt
