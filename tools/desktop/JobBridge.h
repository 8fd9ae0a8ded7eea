// The runner's notifications as Qt signals. The TransferRunner calls its
// JobSink on its own thread; this sink emits a signal for each call, which
// reaches the receivers on the UI thread queued, with the data copied. A job's
// log lines are its own: they are forgotten when it starts and handed over
// when it ends, for the cause of a failure.
#ifndef NIMBRA_DESKTOP_JOBBRIDGE_H
#define NIMBRA_DESKTOP_JOBBRIDGE_H

#include <QMetaType>
#include <QObject>
#include <vector>

#include "hostkit/Diagnosis.h"
#include "hostkit/TransferRunner.h"

Q_DECLARE_METATYPE(hostkit::JobOutcome)
Q_DECLARE_METATYPE(std::vector<hostkit::ListEntry>)
Q_DECLARE_METATYPE(std::vector<hostkit::LibraryLine>)

namespace desktop {

using JobId = hostkit::JobId;

class JobBridge final : public QObject, public hostkit::JobSink {
    Q_OBJECT
public:
    explicit JobBridge(QObject* parent = nullptr);

    // The runner's thread.
    void JobStarted(hostkit::JobId id, hostkit::JobKind kind) override;
    void JobProgress(hostkit::JobId id, long long bytes, long long total) override;
    void JobPage(hostkit::JobId id, const std::vector<hostkit::ListEntry>& page) override;
    void JobFinished(hostkit::JobId id, const hostkit::JobOutcome& outcome) override;

signals:
    void started(quint64 id);
    void progress(quint64 id, qint64 bytes, qint64 total);
    void page(quint64 id, const std::vector<hostkit::ListEntry>& entries);
    void finished(quint64 id, const hostkit::JobOutcome& outcome,
                  const std::vector<hostkit::LibraryLine>& lines);
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_JOBBRIDGE_H
