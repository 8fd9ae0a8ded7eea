// Fetches a user's backup records into a RecordsModel, each page's records
// shown as they arrive (GetUserUploadInfo hands them over one by one, on the
// runner's thread; each is posted to this thread), then the used space.
#ifndef NIMBRA_DESKTOP_RECORDSLOADER_H
#define NIMBRA_DESKTOP_RECORDSLOADER_H

#include <QObject>

#include "JobQueue.h"
#include "RecordsModel.h"

namespace desktop {

class RecordsLoader : public QObject {
    Q_OBJECT
public:
    RecordsLoader(JobQueue& jobs, RecordsModel& model, QObject* parent = nullptr);

    // Empties the model and fetches `user`'s records; an earlier fetch still
    // running delivers nothing more.
    void load(const QString& user);

signals:
    void loaded(bool ok);
    void failed(const QString& text);
    // The used space the web API reports; -1: it could not be read.
    void usedSpace(qint64 bytes);

private:
    void loadUsedSpace(const QString& user, quint64 generation);

    JobQueue& m_jobs;
    RecordsModel& m_model;
    quint64 m_generation = 0;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_RECORDSLOADER_H
