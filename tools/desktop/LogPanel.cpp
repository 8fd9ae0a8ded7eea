#include "LogPanel.h"

#include <QFontDatabase>

#include "LogHub.h"

namespace desktop {
namespace {

constexpr int kMaxLines = 5000;

}  // namespace

LogPanel::LogPanel(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setMaximumBlockCount(kMaxLines);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setPlaceholderText(tr("The library's log lines appear here."));
    // Emitted on the library's thread: queued to this one.
    connect(&LogHub::instance(), &LogHub::lineLogged, this, &QPlainTextEdit::appendPlainText);
}

}  // namespace desktop
