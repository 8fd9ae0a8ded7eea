// The library's log lines as they come (LogHub), newest at the bottom.
#ifndef NIMBRA_DESKTOP_LOGPANEL_H
#define NIMBRA_DESKTOP_LOGPANEL_H

#include <QPlainTextEdit>

namespace desktop {

class LogPanel : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogPanel(QWidget* parent = nullptr);
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_LOGPANEL_H
