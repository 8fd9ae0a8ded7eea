#include "TransferController.h"

#include <sys/stat.h>

#include <QFileInfo>

#include "BackupTask.h"
#include "RestoreTask.h"
#include "Text.h"
#include "hostkit/Backups.h"
#include "hostkit/Names.h"
#include "hostkit/Records.h"

namespace desktop {

TransferController::TransferController(JobQueue& jobs, TransferModel& model, Chooser& chooser,
                                       QObject* parent)
    : QObject(parent),
      m_jobs(jobs),
      m_model(model),
      m_chooser(chooser),
      m_reservations(std::make_shared<KeyReservations>()) {}

TransferController::~TransferController() = default;

void TransferController::backUp(const QStringList& files, const QString& user,
                                const QString& backup, int expireDays) {
    std::string problem = hostkit::BackupNamesProblem(user.toStdString(), backup.toStdString());
    if (!problem.empty()) {
        emit failed(tr("Nothing was backed up: %1").arg(shown(problem)));
        return;
    }
    for (const QString& file : files) {
        BackupRequest request;
        request.user = user.toStdString();
        request.backup = backup.toStdString();
        request.expireDays = expireDays;
        const hostkit::FileStatus status = hostkit::InspectSource(file.toStdString(), request.file);
        problem = status.ok() ? hostkit::RecordFitProblem(request.file) : status.text;
        if (!problem.empty()) {
            addFailedRow(tr("Back up %1").arg(QFileInfo(file).fileName()), shown(problem),
                         TransferState::Failed);
            continue;
        }
        auto task =
            std::make_unique<BackupTask>(m_jobs, m_model, std::move(request), m_reservations);
        connect(task.get(), &BackupTask::registered, this, &TransferController::backupRegistered);
        adopt(std::move(task));
    }
}

void TransferController::restore(const std::vector<_ST_UserInfo>& records, const QString& folder,
                                 QWidget* parent) {
    for (const _ST_UserInfo& record : records) {
        const std::string what = hostkit::DescribeRecord(record);
        const std::string name = hostkit::FieldText(record.szFileName);
        const QString title = tr("Restore %1").arg(shown(name));
        RestoreRequest request;
        const std::string problem = hostkit::RestoreProblem(record, request.key);
        if (!problem.empty()) {
            addFailedRow(title, shown(problem), TransferState::Failed);
            continue;
        }
        if (!chooseTarget(folder.toStdString(), name, title, parent, request.target)) continue;
        request.size = record.llFileSize;
        request.lookUpFirst = true;
        request.what = what;
        adopt(std::make_unique<RestoreTask>(m_jobs, m_model, std::move(request)));
    }
}

void TransferController::download(const QString& key, qint64 size, const QString& folder,
                                  QWidget* parent) {
    std::string prefix, name;
    hostkit::SplitKey(key.toStdString(), prefix, name);
    const QString title = tr("Download %1").arg(shown(name));
    const std::string fault = hostkit::FileNameProblem(name);
    if (!fault.empty()) {
        addFailedRow(title, tr("'%1' cannot name a file: %2").arg(shown(name), shown(fault)),
                     TransferState::Failed);
        return;
    }
    RestoreRequest request;
    if (!chooseTarget(folder.toStdString(), name, title, parent, request.target)) return;
    request.key = key.toStdString();
    request.size = size;
    request.what = "object";
    adopt(std::make_unique<RestoreTask>(m_jobs, m_model, std::move(request)));
}

bool TransferController::chooseTarget(const std::string& folder, const std::string& name,
                                      const QString& title, QWidget* parent,
                                      hostkit::FileTarget& target) {
    std::string path = hostkit::PathInFolder(folder, name);
    bool createOnly = true;
    if (taken(path)) {
        switch (m_chooser.existingFile(parent, shown(path))) {
            case Chooser::Existing::Skip:
                addFailedRow(title, tr("skipped: %1 exists").arg(shown(path)),
                             TransferState::Skipped);
                return false;
            case Chooser::Existing::KeepBoth:
                path = freeName(folder, name);
                break;
            case Chooser::Existing::Overwrite:
                createOnly = false;
                break;
        }
    }
    const hostkit::FileStatus status = hostkit::ResolveFileTarget(path, createOnly, target);
    QString problem = shown(status.text);
    if (status.ok() && target.kind == hostkit::FileTarget::Kind::kDirect)
        problem = tr("%1 is not a regular file; nothing was restored").arg(shown(path));
    if (!problem.isEmpty()) addFailedRow(title, problem, TransferState::Failed);
    return problem.isEmpty();
}

bool TransferController::taken(const std::string& path) const {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) return true;  // a dangling symlink too
    for (const auto& task : m_tasks) {
        const auto* restore = qobject_cast<const RestoreTask*>(task.get());
        if (restore != nullptr && !restore->finished() && restore->targetPath() == path)
            return true;
    }
    return false;
}

std::string TransferController::freeName(const std::string& folder, const std::string& name) const {
    // "report.pdf" -> "report (2).pdf"; ".profile" -> ".profile (2)".
    const size_t dot = name.rfind('.');
    const bool extension = dot != std::string::npos && dot > 0;
    const std::string stem = extension ? name.substr(0, dot) : name;
    const std::string suffix = extension ? name.substr(dot) : "";
    for (int n = 2;; ++n) {
        const std::string candidate =
            hostkit::PathInFolder(folder, stem + " (" + std::to_string(n) + ")" + suffix);
        if (!taken(candidate)) return candidate;
    }
}

void TransferController::addFailedRow(const QString& name, const QString& why,
                                      TransferState state) {
    m_model.setState(m_model.add(name, why), state);
    if (state == TransferState::Failed) emit failed(tr("%1: %2").arg(name, why));
}

void TransferController::adopt(std::unique_ptr<TransferTask> task) {
    TransferTask* raw = task.get();
    connect(raw, &TransferTask::failed, this, &TransferController::failed);
    connect(raw, &TransferTask::ended, this, [this, raw] { onEnded(raw); });
    m_tasks.push_back(std::move(task));
    raw->start();
}

TransferTask* TransferController::taskOf(quint64 row) const {
    for (const auto& task : m_tasks) {
        if (task->row() == row) return task.get();
    }
    return nullptr;
}

void TransferController::onEnded(TransferTask* task) {
    for (auto it = m_tasks.begin(); it != m_tasks.end(); ++it) {
        if (it->get() != task) continue;
        // It is still on the stack (it says so from its job's handler).
        it->release()->deleteLater();
        m_tasks.erase(it);
        break;
    }
    if (unfinished() == 0) emit allEnded();
}

bool TransferController::pause(quint64 row) {
    TransferTask* task = taskOf(row);
    return task != nullptr && task->pause();
}

bool TransferController::resume(quint64 row) {
    TransferTask* task = taskOf(row);
    return task != nullptr && task->resume();
}

bool TransferController::stop(quint64 row) {
    TransferTask* task = taskOf(row);
    return task != nullptr && task->stop();
}

bool TransferController::remove(quint64 row) {
    TransferTask* task = taskOf(row);
    if (task != nullptr) return task->remove();
    if (!isFinal(m_model.state(row))) return false;
    m_model.remove(row);  // a finished row
    return true;
}

int TransferController::unfinished() const {
    int count = 0;
    for (const auto& task : m_tasks) count += task->finished() ? 0 : 1;
    return count;
}

void TransferController::stopAll() {
    for (const auto& task : m_tasks) task->stop();
    if (unfinished() == 0) emit allEnded();
}

void TransferController::discardLocalFiles() {
    for (const auto& task : m_tasks) task->discardLocalFiles();
}

}  // namespace desktop
