// Nimbra Backup's window: the user, their backups, the store, the transfers
// and the library's log. Every library call goes through the JobQueue (one
// operation at a time, on the runner's thread); nothing here blocks.
#ifndef NIMBRA_DESKTOP_MAINWINDOW_H
#define NIMBRA_DESKTOP_MAINWINDOW_H

#include <QMainWindow>
#include <memory>

#include "BuildInfo.h"
#include "Nimbra/Nimbra.h"

class QLabel;
class QLineEdit;
class QSplitter;
class QTabWidget;

namespace desktop {

class Chooser;
class JobQueue;
class LogPanel;
class NoticeBar;
class RecordsLoader;
class RecordsModel;
class RecordsPanel;
class StoreModel;
class StorePanel;
class TransferController;
class TransferModel;
class TransferPanel;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(IOssManager& manager, Chooser& chooser, BuildInfo info, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Backs these files up for the current user (as a drop does).
    void backUpFiles(const QStringList& files);
    // Closed with a job still running, which the process must not wait for.
    bool abandoned() const { return m_abandoned; }
    QString aboutText() const;

    QLineEdit* userField() const { return m_user; }
    QLabel* userProblemLabel() const { return m_userProblem; }
    QTabWidget* tabs() const { return m_tabs; }
    RecordsPanel* recordsPanel() const { return m_recordsPanel; }
    StorePanel* storePanel() const { return m_storePanel; }
    TransferPanel* transferPanel() const { return m_transferPanel; }
    LogPanel* logPanel() const { return m_log; }
    NoticeBar* notice() const { return m_notice; }
    QLabel* usedSpaceLabel() const { return m_usedSpace; }
    TransferModel& transfers() const { return *m_transfers; }
    RecordsModel& records() const { return *m_records; }
    StoreModel& store() const { return *m_store; }
    JobQueue& jobs() const { return *m_jobs; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildUserRow();
    void buildMenus();
    void connectParts();
    // The user field's name, when it is one.
    QString validUser() const;
    void userChanged();
    void reloadRecords();
    void chooseAndBackUp();
    void restoreSelected();
    void downloadSelected();
    void deleteSelected();
    void showUsedSpace(qint64 bytes);
    void fail(const QString& text);
    void showAbout();

    Chooser& m_chooser;
    BuildInfo m_info;
    std::unique_ptr<JobQueue> m_jobs;  // first made, first gone (see the destructor)
    TransferModel* m_transfers;
    RecordsModel* m_records;
    StoreModel* m_store;
    TransferController* m_controller;
    RecordsLoader* m_loader;
    QLineEdit* m_user;
    QLabel* m_userProblem;
    NoticeBar* m_notice;
    QTabWidget* m_tabs;
    QSplitter* m_splitter;
    RecordsPanel* m_recordsPanel;
    StorePanel* m_storePanel;
    TransferPanel* m_transferPanel;
    LogPanel* m_log;
    QLabel* m_usedSpace;
    QString m_loadedUser;
    enum class Closing { No, Stopping, Ready } m_closing = Closing::No;
    bool m_abandoned = false;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_MAINWINDOW_H
