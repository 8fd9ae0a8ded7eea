// Turns what the user asked for into transfer tasks: backups of files,
// restores of records, downloads of objects. Checks what can be checked
// before anything is queued (names, files, where a restore goes, asking
// before a file would be replaced), keeps the tasks until they end, and
// passes the user's pause, resume, stop and remove to them.
#ifndef NIMBRA_DESKTOP_TRANSFERCONTROLLER_H
#define NIMBRA_DESKTOP_TRANSFERCONTROLLER_H

#include <QObject>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "Chooser.h"
#include "JobQueue.h"
#include "TransferModel.h"
#include "hostkit/FileTarget.h"

namespace desktop {

class KeyReservations;
class TransferTask;

class TransferController : public QObject {
    Q_OBJECT
public:
    TransferController(JobQueue& jobs, TransferModel& model, Chooser& chooser,
                       QObject* parent = nullptr);
    ~TransferController() override;

    // Each file (inspected first) under a key of its own, then registered.
    void backUp(const QStringList& files, const QString& user, const QString& backup,
                int expireDays);
    // The records' files into `folder`, each under its recorded name.
    void restore(const std::vector<_ST_UserInfo>& records, const QString& folder, QWidget* parent);
    // The object `key` of `size` bytes (as listed) into `folder`.
    void download(const QString& key, qint64 size, const QString& folder, QWidget* parent);

    // The controls of the row `row` (a TransferModel id).
    bool pause(quint64 row);
    bool resume(quint64 row);
    bool stop(quint64 row);
    bool remove(quint64 row);

    int unfinished() const;
    // Stops every task (the queued ones do not start); `allEnded` follows.
    void stopAll();
    // Removes the temporary files of unfinished restores, for a quit that
    // does not wait for them.
    void discardLocalFiles();

signals:
    // A failure in words, for a notice.
    void failed(const QString& text);
    void backupRegistered();
    void allEnded();

private:
    // Where a file named `name` goes in `folder`: asks when something is
    // there; false when skipped or impossible (a row says why).
    bool chooseTarget(const std::string& folder, const std::string& name, const QString& title,
                      QWidget* parent, hostkit::FileTarget& target);
    bool taken(const std::string& path) const;
    std::string freeName(const std::string& folder, const std::string& name) const;
    void addFailedRow(const QString& name, const QString& why, TransferState state);
    void adopt(std::unique_ptr<TransferTask> task);
    TransferTask* taskOf(quint64 row) const;
    void onEnded(TransferTask* task);

    JobQueue& m_jobs;
    TransferModel& m_model;
    Chooser& m_chooser;
    std::shared_ptr<KeyReservations> m_reservations;
    std::vector<std::unique_ptr<TransferTask>> m_tasks;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_TRANSFERCONTROLLER_H
