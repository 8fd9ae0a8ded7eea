// The library's log lines in this process. libNimbra imports LogHandlerA,
// which this executable exports (the kit's, hostkit/LibraryLog.h, whose
// receiver this is from the first instance() on): every line comes here, on
// whichever thread the library runs, is kept among the recent lines that
// name a failure's cause, and reaches the log panel through a queued signal.
#ifndef NIMBRA_DESKTOP_LOGHUB_H
#define NIMBRA_DESKTOP_LOGHUB_H

#include <QObject>
#include <QString>
#include <vector>

#include "hostkit/LibraryLog.h"

namespace desktop {

class LogHub : public QObject {
    Q_OBJECT
public:
    static LogHub& instance();

    // Any thread.
    void add(const hostkit::LogCall& call);
    std::vector<hostkit::LibraryLine> recentLines() const { return m_recent.Lines(); }
    void forgetRecentLines() { m_recent.Clear(); }

signals:
    void lineLogged(const QString& text);

private:
    LogHub() = default;
    hostkit::RecentLines m_recent;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_LOGHUB_H
