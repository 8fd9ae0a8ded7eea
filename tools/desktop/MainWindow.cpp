#include "MainWindow.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "Chooser.h"
#include "DroppedFiles.h"
#include "EmptyState.h"
#include "JobQueue.h"
#include "LogPanel.h"
#include "NoticeBar.h"
#include "ObjectRemoval.h"
#include "RecordsLoader.h"
#include "RecordsModel.h"
#include "RecordsPanel.h"
#include "StoreModel.h"
#include "StorePanel.h"
#include "Text.h"
#include "TransferController.h"
#include "TransferModel.h"
#include "TransferPanel.h"
#include "hostkit/Format.h"
#include "hostkit/Names.h"

namespace desktop {
namespace {

const char kUser[] = "user/name";
const char kGeometry[] = "window/geometry";
const char kSplitter[] = "window/splitter";

std::string userProblem(const QString& user) {
    return hostkit::NameProblem("user name", user.toStdString(), hostkit::kUserNameMax);
}

}  // namespace

MainWindow::MainWindow(IOssManager& manager, Chooser& chooser, BuildInfo info, QWidget* parent)
    : QMainWindow(parent),
      m_chooser(chooser),
      m_info(std::move(info)),
      m_jobs(std::make_unique<JobQueue>(manager)),
      m_transfers(new TransferModel(this)),
      m_records(new RecordsModel(this)),
      m_store(new StoreModel(*m_jobs, this)),
      m_controller(new TransferController(*m_jobs, *m_transfers, chooser, this)),
      m_loader(new RecordsLoader(*m_jobs, *m_records, this)),
      m_user(new QLineEdit),
      m_userProblem(new QLabel),
      m_notice(new NoticeBar),
      m_tabs(new QTabWidget),
      m_splitter(new QSplitter(Qt::Vertical)),
      m_recordsPanel(new RecordsPanel(*m_records)),
      m_storePanel(new StorePanel(*m_store)),
      m_transferPanel(new TransferPanel(*m_transfers, *m_controller)),
      m_log(new LogPanel),
      m_usedSpace(new QLabel) {
    setWindowTitle(tr("Nimbra Backup"));
    setAcceptDrops(true);
    m_tabs->addTab(m_recordsPanel, tr("Backups"));
    m_tabs->addTab(m_storePanel, tr("Store"));
    m_tabs->addTab(m_log, tr("Log"));

    auto* transfersBox = new QWidget;
    auto* transfersLayout = new QVBoxLayout(transfersBox);
    transfersLayout->setContentsMargins(6, 0, 6, 0);
    auto* transfersTitle = new QLabel(tr("Transfers"));
    transfersTitle->setStyleSheet("font-weight: bold;");
    transfersLayout->addWidget(transfersTitle);
    transfersLayout->addWidget(m_transferPanel);
    m_splitter->addWidget(m_tabs);
    m_splitter->addWidget(transfersBox);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setSizes({380, 300});

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(8, 8, 8, 4);
    layout->addWidget(buildUserRow());
    layout->addWidget(m_notice);
    layout->addWidget(m_splitter, 1);
    setCentralWidget(central);
    statusBar()->addWidget(m_usedSpace);
    statusBar()->addPermanentWidget(
        new QLabel(tr("Bucket %1 at %2").arg(m_info.bucket, m_info.endpoint)));
    buildMenus();
    connectParts();

    const QSettings settings;
    if (!restoreGeometry(settings.value(kGeometry).toByteArray())) resize(1060, 720);
    m_splitter->restoreState(settings.value(kSplitter).toByteArray());
    m_user->setText(settings.value(kUser).toString());
    userChanged();
    m_store->reload();
}

MainWindow::~MainWindow() {
    // The runner first, while everything its handlers reach is still here.
    m_jobs.reset();
}

QWidget* MainWindow::buildUserRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("User:")));
    m_user->setPlaceholderText(tr("the name your backups are kept under"));
    m_user->setMaximumWidth(320);
    m_user->setClearButtonEnabled(true);
    layout->addWidget(m_user);
    m_userProblem->setStyleSheet("color: #b02020;");
    layout->addWidget(m_userProblem, 1);
    connect(m_user, &QLineEdit::editingFinished, this, &MainWindow::userChanged);
    return row;
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Back up files…"), this, &MainWindow::chooseAndBackUp);
    file->addAction(tr("&Restore selected backups…"), this, &MainWindow::restoreSelected);
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About Nimbra Backup"), this, &MainWindow::showAbout);
}

void MainWindow::connectParts() {
    connect(m_recordsPanel->backUpButton(), &QPushButton::clicked, this,
            &MainWindow::chooseAndBackUp);
    connect(m_recordsPanel->restoreButton(), &QPushButton::clicked, this,
            &MainWindow::restoreSelected);
    connect(m_recordsPanel->refreshButton(), &QPushButton::clicked, this,
            &MainWindow::reloadRecords);
    connect(m_storePanel, &StorePanel::downloadRequested, this, &MainWindow::downloadSelected);
    connect(m_storePanel, &StorePanel::deleteRequested, this, &MainWindow::deleteSelected);
    connect(m_controller, &TransferController::failed, this, &MainWindow::fail);
    connect(m_controller, &TransferController::backupRegistered, this, [this] {
        if (m_closing == Closing::No) reloadRecords();
    });
    connect(m_controller, &TransferController::allEnded, this, [this] {
        if (m_closing != Closing::Stopping) return;
        m_closing = Closing::Ready;
        close();
    });
    connect(m_loader, &RecordsLoader::failed, this, &MainWindow::fail);
    connect(m_loader, &RecordsLoader::loaded, this, [this](bool ok) {
        m_recordsPanel->setEmptyText(
            ok ? tr("No backups yet.\nDrop files or folders on the window, or click "
                    "\"Back up files…\".")
               : tr("The backups of %1 could not be read.\nSee the notice above, then Refresh.")
                     .arg(m_loadedUser));
    });
    connect(m_loader, &RecordsLoader::usedSpace, this, &MainWindow::showUsedSpace);
    connect(m_store, &StoreModel::listingEnded, this,
            [this](const QString& prefix, bool ok, const QString& text) {
                if (!ok) fail(text);
                if (prefix == "/" && ok)
                    m_storePanel->emptyState()->setEmptyText(tr("Nothing in the store yet."));
                if (prefix == "/" && !ok)
                    m_storePanel->emptyState()->setEmptyText(
                        tr("The store could not be listed.\nSee the notice above, then Refresh."));
            });
}

QString MainWindow::validUser() const {
    return userProblem(m_user->text()).empty() ? m_user->text() : QString();
}

void MainWindow::userChanged() {
    const QString user = m_user->text();
    const std::string problem = user.isEmpty() ? "" : userProblem(user);
    m_userProblem->setText(qtext(problem));
    const bool valid = !user.isEmpty() && problem.empty();
    m_recordsPanel->backUpButton()->setEnabled(valid);
    m_recordsPanel->restoreButton()->setEnabled(valid);
    m_recordsPanel->refreshButton()->setEnabled(valid);
    setWindowTitle(valid ? tr("Nimbra Backup — %1").arg(user) : tr("Nimbra Backup"));
    if (!valid) {
        m_loadedUser.clear();
        m_records->clear();
        m_usedSpace->clear();
        m_recordsPanel->setEmptyText(user.isEmpty()
                                         ? tr("Enter your user name above to see your backups.")
                                         : tr("Enter a valid user name above."));
        return;
    }
    QSettings().setValue(kUser, user);
    if (user != m_loadedUser) reloadRecords();
}

void MainWindow::reloadRecords() {
    const QString user = validUser();
    if (user.isEmpty()) return;
    m_loadedUser = user;
    m_recordsPanel->setEmptyText(tr("Loading the backups of %1…").arg(user));
    m_usedSpace->setText(tr("Used space: …"));
    m_loader->load(user);
}

void MainWindow::showUsedSpace(qint64 bytes) {
    m_usedSpace->setText(bytes < 0 ? tr("Used space: unknown")
                                   : tr("Used space: %1").arg(qtext(hostkit::FormatBytes(bytes))));
}

void MainWindow::backUpFiles(const QStringList& files) {
    const QString user = validUser();
    if (user.isEmpty()) return fail(tr("Enter your user name before backing files up."));
    if (files.isEmpty()) return fail(tr("There was no file to back up."));
    m_controller->backUp(files, user, m_recordsPanel->backupName(), m_recordsPanel->expireDays());
}

void MainWindow::chooseAndBackUp() {
    if (validUser().isEmpty()) return fail(tr("Enter your user name before backing files up."));
    const QStringList files = m_chooser.filesToBackUp(this);
    if (!files.isEmpty()) backUpFiles(files);
}

void MainWindow::restoreSelected() {
    const std::vector<_ST_UserInfo> records = m_recordsPanel->selectedRecords();
    if (records.empty()) return fail(tr("Select the backups to restore first."));
    const QString folder = m_chooser.targetFolder(this);
    if (!folder.isEmpty()) m_controller->restore(records, folder, this);
}

void MainWindow::downloadSelected() {
    const auto objects = m_storePanel->selectedObjects();
    if (objects.isEmpty()) return;
    const QString folder = m_chooser.targetFolder(this);
    if (folder.isEmpty()) return;
    for (const auto& object : objects)
        m_controller->download(object.first, object.second, folder, this);
}

void MainWindow::deleteSelected() {
    const auto objects = m_storePanel->selectedObjects();
    if (objects.size() != 1) return;
    const QString key = objects.first().first;
    const QString user = validUser();
    const Chooser::Deletion choice = m_chooser.confirmDeletion(this, key, user);
    if (choice == Chooser::Deletion::Cancel) return;
    const QString withRecords = choice == Chooser::Deletion::ObjectAndRecords ? user : QString();
    removeObject(*m_jobs, key, withRecords, [this, key](bool deleted, const QString& text) {
        if (!deleted) return fail(text);
        statusBar()->showMessage(text, 10000);
        const QModelIndex at = m_store->indexOfPrefix(key.left(key.lastIndexOf('/') + 1));
        m_store->relist(at);
        reloadRecords();
    });
}

void MainWindow::fail(const QString& text) {
    m_notice->showNotice(text);
}

QString MainWindow::aboutText() const {
    return tr("Nimbra Backup %1\n\nBacks your files up to an object store.\n\n"
              "Web API: %2\nEndpoint: %3\nBucket: %4")
        .arg(m_info.version, m_info.serverUrl, m_info.endpoint, m_info.bucket);
}

void MainWindow::showAbout() {
    QMessageBox::about(this, tr("About Nimbra Backup"), aboutText());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    const int unfinished = m_controller->unfinished();
    if (m_closing == Closing::Stopping) {
        // A second close does not wait: what a stopped restore wrote goes now.
        m_controller->discardLocalFiles();
        m_abandoned = true;
    } else if (m_closing == Closing::No && unfinished > 0) {
        if (!m_chooser.confirmClose(this, unfinished)) return event->ignore();
        m_closing = Closing::Stopping;
        m_notice->showNotice(
            tr("Stopping the transfers before quitting: the part in flight "
               "finishes first. Close again to quit without waiting."));
        m_store->stopAll();
        m_controller->stopAll();
        return event->ignore();
    } else {
        m_abandoned = m_jobs->busy();  // a web request still under way
    }
    m_store->stopAll();
    QSettings settings;
    settings.setValue(kGeometry, saveGeometry());
    settings.setValue(kSplitter, m_splitter->saveState());
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QStringList files = droppedFiles(event->mimeData()->urls());
    event->acceptProposedAction();
    backUpFiles(files);
}

}  // namespace desktop
