#include "frontends/qt/text_viewers.h"

#include <QAbstractTextDocumentLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace ui::qt {
namespace {

constexpr int kHelpWidth = 720;
constexpr int kHelpHeight = 600;
constexpr int kHistoryWidth = 860;
constexpr int kHistoryHeight = 420;
constexpr const char* kHelpViewerName = "helpViewer";

// Markdown headings carry no anchors of their own; each gets the name its links use, so that
// the section links of the text and the opening section both work.
void nameHeadings(QTextDocument& document) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    if (block.blockFormat().headingLevel() == 0) continue;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorNames({headingAnchor(block.text())});
    cursor.mergeCharFormat(format);
  }
}

// Puts the heading with the anchor at the top of the view.
void showSection(QTextBrowser& browser, const QString& anchor) {
  QTextDocument& document = *browser.document();
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    if (block.blockFormat().headingLevel() == 0 || headingAnchor(block.text()) != anchor) continue;
    QTextCursor cursor(block);
    browser.setTextCursor(cursor);
    const QRectF where = document.documentLayout()->blockBoundingRect(block);
    browser.verticalScrollBar()->setValue(static_cast<int>(where.top()));
    return;
  }
  browser.verticalScrollBar()->setValue(0);
}

}  // namespace

QString headingAnchor(const QString& heading) {
  QString out;
  for (const QChar c : heading.trimmed().toLower()) {
    if (c.isLetterOrNumber() || c == u'-' || c == u'_') {
      out += c;
    } else if (c == u' ') {
      out += u'-';
    }
  }
  return out;
}

QDialog* showHelpViewer(QWidget* parent, const std::string& markdownPath, const QString& anchor) {
  QFile file(QString::fromStdString(markdownPath));
  if (!file.open(QIODevice::ReadOnly)) return nullptr;
  const QString markdown = QString::fromUtf8(file.readAll());

  auto* viewer = parent ? parent->findChild<QDialog*>(QString::fromLatin1(kHelpViewerName),
                                                      Qt::FindDirectChildrenOnly)
                        : nullptr;
  QTextBrowser* browser = nullptr;
  if (viewer) {
    browser = viewer->findChild<QTextBrowser*>();
  } else {
    viewer = new QDialog(parent);
    viewer->setObjectName(QString::fromLatin1(kHelpViewerName));
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    viewer->resize(kHelpWidth, kHelpHeight);
    auto* layout = new QVBoxLayout(viewer);
    browser = new QTextBrowser(viewer);
    browser->setObjectName(QStringLiteral("helpText"));
    browser->setReadOnly(true);
    // Links within the text move to their section; addresses outside it go to nobody.
    browser->setOpenExternalLinks(false);
    layout->addWidget(browser);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, viewer);
    QObject::connect(buttons, &QDialogButtonBox::rejected, viewer, &QDialog::close);
    layout->addWidget(buttons);
  }
  viewer->setWindowTitle(QStringLiteral("Help - ") + QFileInfo(file).fileName());
  // Pictures are named relative to the file, which may be a resource of the program
  // (":/help/manual.md": its pictures are "qrc:/help/...").
  const QString folder = QFileInfo(file).absolutePath() + QStringLiteral("/");
  browser->document()->setBaseUrl(folder.startsWith(u':') ? QUrl(QStringLiteral("qrc") + folder)
                                                          : QUrl::fromLocalFile(folder));
  browser->setMarkdown(markdown);
  nameHeadings(*browser->document());
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
  showSection(*browser, anchor);
  return viewer;
}

void runHistoryViewer(QWidget* parent, const HistoryTable& table) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("historyViewer"));
  dialog.setWindowTitle(QStringLiteral("History"));
  dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  dialog.resize(kHistoryWidth, kHistoryHeight);
  auto* layout = new QVBoxLayout(&dialog);
  QString caption = QString::fromStdString(table.source);
  if (!table.error.empty()) {
    caption +=
        QStringLiteral("\nThe history cannot be read: ") + QString::fromStdString(table.error);
  } else if (table.rows.empty()) {
    caption += QStringLiteral("\nNo service records yet.");
  }
  auto* label = new QLabel(caption, &dialog);
  label->setObjectName(QStringLiteral("historySource"));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(label);

  auto* grid = new QTableWidget(static_cast<int>(table.rows.size()),
                                static_cast<int>(table.header.size()), &dialog);
  grid->setObjectName(QStringLiteral("historyTable"));
  QStringList header;
  for (const std::string& title : table.header) header << QString::fromStdString(title);
  grid->setHorizontalHeaderLabels(header);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->verticalHeader()->setVisible(false);
  grid->setWordWrap(false);
  for (size_t row = 0; row < table.rows.size(); ++row) {
    const std::vector<std::string>& cells = table.rows[row];
    for (size_t column = 0; column < cells.size() && column < table.header.size(); ++column) {
      grid->setItem(static_cast<int>(row), static_cast<int>(column),
                    new QTableWidgetItem(QString::fromStdString(cells[column])));
    }
  }
  grid->resizeColumnsToContents();
  grid->horizontalHeader()->setStretchLastSection(true);
  if (!table.rows.empty()) {
    const int newest = static_cast<int>(table.rows.size()) - 1;
    grid->selectRow(newest);
    grid->scrollToItem(grid->item(newest, 0));
  }
  layout->addWidget(grid);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  grid->setFocus();
  dialog.exec();
}

}  // namespace ui::qt
