// nimbra-desktop as a person uses it, headless: the window against a
// development server on the tests' ports, driven with QTest (clicks, typed
// names, drops) and answered through a scripted Chooser instead of dialogs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <deque>
#include <memory>
#include <set>

#include "Chooser.h"
#include "EmptyState.h"
#include "JobQueue.h"
#include "LogPanel.h"
#include "MainWindow.h"
#include "Nimbra/NimbraConfig.h"
#include "NoticeBar.h"
#include "RecordsModel.h"
#include "RecordsPanel.h"
#include "StoreModel.h"
#include "StorePanel.h"
#include "TransferModel.h"
#include "TransferPanel.h"
#include "tests/support/DevServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace {

using desktop::Chooser;
using desktop::TransferState;
constexpr long long kMiB = 1024 * 1024;
constexpr int kWaitMs = 30000;

// The answers a person would give, in order; counts the questions.
struct ScriptedChooser final : desktop::Chooser {
    QStringList files;
    QString folder;
    std::deque<Existing> existing;
    Deletion deletion = Deletion::Cancel;
    bool close = true;
    QStringList asked;  // the paths asked about

    QStringList filesToBackUp(QWidget*) override { return files; }
    QString targetFolder(QWidget*) override { return folder; }
    Existing existingFile(QWidget*, const QString& path) override {
        asked << path;
        const Existing answer = existing.empty() ? Existing::Skip : existing.front();
        if (!existing.empty()) existing.pop_front();
        return answer;
    }
    Deletion confirmDeletion(QWidget*, const QString&, const QString&) override { return deletion; }
    bool confirmClose(QWidget*, int) override { return close; }
};

class Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DevServerOptions options;
        options.api_port = PortOf(NIMBRA_SERVER_URL);
        options.store_port = PortOf(NIMBRA_ENDPOINT);
        options.bucket = NIMBRA_BUCKET;
        server_ = std::make_unique<DevServer>(options);
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        server_->Reset();
        QSettings().clear();
        // A user of its own per test: the server keeps its records between tests.
        user_ =
            QString::fromStdString(::testing::UnitTest::GetInstance()->current_test_info()->name())
                .toLower();
        QSettings().setValue("user/name", user_);
        OpenWindow();
    }
    void OpenWindow() {
        window_ = std::make_unique<desktop::MainWindow>(
            *manager_, chooser_,
            desktop::BuildInfo{NIMBRA_VERSION, NIMBRA_SERVER_URL, NIMBRA_ENDPOINT, NIMBRA_BUCKET});
        window_->resize(1060, 720);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_TRUE(Idle());
    }
    void TearDown() override {
        Idle();
        window_.reset();
    }

    bool Idle() {
        return QTest::qWaitFor([this] { return !window_->jobs().busy(); }, kWaitMs);
    }
    std::string MakeFile(const std::string& name, const std::string& data) {
        const std::string path = dir_.file(name);
        const size_t slash = name.rfind('/');
        if (slash != std::string::npos)
            QDir().mkpath(QString::fromStdString(dir_.file(name.substr(0, slash))));
        EXPECT_TRUE(WriteFileBytes(path, data));
        return path;
    }
    // Stores an object straight on the store; the status it was answered.
    int PutObject(const std::string& key, const std::string& data) {
        return server_->StoreExchange("PUT", "/" + server_->bucket() + "/" + key, data).status;
    }
    void Click(QAbstractButton* button) {
        ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void Drop(const QStringList& paths) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &drop);
    }
    desktop::TransferModel& Transfers() { return window_->transfers(); }
    quint64 LastRow() { return Transfers().idAt(Transfers().rowCount() - 1); }
    ::testing::AssertionResult WaitState(quint64 row, TransferState state) {
        if (QTest::qWaitFor([&] { return Transfers().state(row) == state; }, kWaitMs))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "the row is " << desktop::stateText(Transfers().state(row)).toStdString() << ": "
               << Transfers().details(row).toStdString();
    }
    bool WaitAllFinal() {
        return QTest::qWaitFor(
            [&] {
                for (int i = 0; i < Transfers().rowCount(); ++i)
                    if (!desktop::isFinal(Transfers().state(Transfers().idAt(i)))) return false;
                return true;
            },
            kWaitMs);
    }
    // Clicks the row of `index` in `view`, as a person selects it.
    void Select(QAbstractItemView* view, const QModelIndex& index) {
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                          view->visualRect(index).center());
        ASSERT_TRUE(view->selectionModel()->isSelected(index));
    }
    QModelIndex RecordWithPath(const std::string& path) {
        const desktop::RecordsModel& records = window_->records();
        for (int g = 0; g < records.rowCount(); ++g) {
            const QModelIndex group = records.index(g, 0);
            for (int r = 0; r < records.rowCount(group); ++r) {
                const QModelIndex at = records.index(r, desktop::RecordsModel::Path, group);
                if (at.data().toString().toStdString() == path) return records.index(r, 0, group);
            }
        }
        return QModelIndex();
    }
    void SaveScreenshot(const char* name) {
        QTest::qWait(50);  // pending layouts done
        QDir().mkpath(NIMBRA_SCREENSHOT_DIR);
        EXPECT_TRUE(window_->grab().save(QString(NIMBRA_SCREENSHOT_DIR "/") + name));
    }

    static inline std::unique_ptr<DevServer> server_;
    static inline IOssManager* manager_ = [] {
        IOssManager* m = nullptr;
        InitOssManager(&m);
        return m;
    }();
    ScriptedChooser chooser_;
    TempDir dir_;
    QString user_;
    std::unique_ptr<desktop::MainWindow> window_;
};

// Two backups of same-named files are two records; a restore gives a record's
// bytes, and never replaces a file there unless told.
TEST_F(Desktop, BackupsAndRestores) {
    QLineEdit* user = window_->userField();
    user->selectAll();
    QTest::keyClicks(user, "ann/x");
    QTest::keyClick(user, Qt::Key_Return);
    EXPECT_FALSE(window_->recordsPanel()->backUpButton()->isEnabled());
    EXPECT_EQ(window_->userProblemLabel()->text().toStdString(), "the user name contains '/'");
    user->selectAll();
    QTest::keyClicks(user, user_);
    QTest::keyClick(user, Qt::Key_Return);
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(window_->recordsPanel()->emptyState()->showsEmpty());
    EXPECT_TRUE(window_->recordsPanel()->emptyState()->emptyText().startsWith("No backups yet"));

    // A folder: its regular files, below too; a symlink in it is not followed.
    const std::string first = MakeFile("one/notes.txt", "first notes");
    MakeFile("one/sub/deep.txt", "deep");
    const std::string second = MakeFile("two/notes.txt", "second, longer notes");
    ASSERT_EQ(::symlink(second.c_str(), dir_.file("one/link.txt").c_str()), 0);
    Drop({QString::fromStdString(dir_.file("one")), QString::fromStdString(second)});
    ASSERT_EQ(Transfers().rowCount(), 3);
    ASSERT_TRUE(WaitAllFinal());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Transfers().state(Transfers().idAt(i)), TransferState::Done);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->records().recordCount() == 3; }, kWaitMs));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(window_->records().rowCount(), 1);  // one backup name
    EXPECT_EQ(window_->usedSpaceLabel()->text().toStdString(), "Used space: 35 B");

    // The first backup into a folder of its own gives its bytes; then, with
    // that name there, the person is asked each time.
    TempDir out;
    chooser_.folder = QString::fromStdString(out.path());
    const std::string restored = out.file("notes.txt");
    const struct {
        Chooser::Existing answer;
        const char* local;  // what notes.txt holds before
        const char* kept;   // and after
        const char* both;   // what "notes (2).txt" holds after; "" none
    } cases[] = {
        {Chooser::Existing::Skip, nullptr, "first notes", ""},  // not there: nobody asked
        {Chooser::Existing::Skip, "local edit", "local edit", ""},
        {Chooser::Existing::KeepBoth, "local edit", "local edit", "first notes"},
        {Chooser::Existing::Overwrite, "local edit", "first notes", "first notes"},
    };
    QTreeView* view = window_->recordsPanel()->view();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.local == nullptr ? "new" : c.kept);
        if (c.local != nullptr) {
            ASSERT_TRUE(WriteFileBytes(restored, c.local));
        }
        chooser_.asked.clear();
        chooser_.existing = {c.answer};
        Select(view, RecordWithPath(first));
        Click(window_->recordsPanel()->restoreButton());
        EXPECT_EQ(chooser_.asked.size(), c.local == nullptr ? 0 : 1);
        ASSERT_TRUE(WaitAllFinal());
        EXPECT_EQ(ReadFileBytes(restored), c.kept);
        EXPECT_EQ(ReadFileBytes(out.file("notes (2).txt")), c.both);
    }
    EXPECT_EQ(Transfers().state(LastRow()), TransferState::Done);
    EXPECT_EQ(QDir(QString::fromStdString(out.path())).entryList(QDir::Files).size(), 2);
}

// A slow upload (each part held by the store): the UI thread keeps running,
// Pause holds the upload before its next part, Resume lets it go on, Stop
// ends it; the next backup runs whole, also after a stop that came during
// the last part, too late to be taken.
TEST_F(Desktop, PauseResumeAndStopASlowUpload) {
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","count":-1,
                          "action":"delay","delay_ms":400})");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const long long size = 40 * kMiB + 1;  // five parts
    chooser_.files = {QString::fromStdString(MakeFile("big.bin", testdata::RandomBytes(size, 1)))};
    Click(window_->recordsPanel()->backUpButton());
    const quint64 row = LastRow();
    desktop::TransferPanel* panel = window_->transferPanel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transfers().bytes(row) >= 10 * kMiB; }, kWaitMs));
    EXPECT_GT(ticks, 10);  // the timer fired while the first part was held
    Click(panel->pauseButton());
    EXPECT_EQ(Transfers().state(row), TransferState::Paused);
    // The part in flight finishes; then nothing moves for longer than a part
    // takes (unpaused, the upload would end in a few of those).
    qint64 held = Transfers().bytes(row);
    for (int i = 0; i < 10; ++i) {
        QTest::qWait(1200);
        if (Transfers().bytes(row) == held) break;
        held = Transfers().bytes(row);
    }
    EXPECT_EQ(Transfers().bytes(row), held);
    EXPECT_LT(held, size);
    // A backup queued behind it can be removed before it starts.
    chooser_.files = {QString::fromStdString(MakeFile("queued.bin", "queued"))};
    Click(window_->recordsPanel()->backUpButton());
    ASSERT_EQ(Transfers().state(LastRow()), TransferState::Queued);
    Select(panel->view(), Transfers().index(Transfers().rowCount() - 1, 0));
    Click(panel->removeButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transfers().rowCount() == 1; }, kWaitMs));
    Click(panel->resumeButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transfers().bytes(row) > held; }, kWaitMs));
    Click(panel->stopButton());
    ASSERT_TRUE(WaitState(row, TransferState::Stopped));
    EXPECT_LT(Transfers().bytes(row), size);
    EXPECT_LT(server_->GetStats().requests["UploadPart"], 5);

    // Two parts: Stop while the last one is held comes too late; the upload
    // completes, and the stop it left in the library does not end the next.
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","key_contains":"two.bin",
                          "count":-1,"action":"delay","delay_ms":1000})");
    chooser_.files = {
        QString::fromStdString(MakeFile("two.bin", testdata::RandomBytes(12 * kMiB, 2)))};
    Click(window_->recordsPanel()->backUpButton());
    const quint64 late = LastRow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transfers().bytes(late) >= 10 * kMiB; }, kWaitMs));
    Select(panel->view(), Transfers().index(Transfers().rowOf(late), 0));
    Click(panel->stopButton());
    ASSERT_TRUE(WaitState(late, TransferState::Done));
    chooser_.files = {QString::fromStdString(MakeFile("next.bin", testdata::RandomBytes(kMiB, 3)))};
    Click(window_->recordsPanel()->backUpButton());
    ASSERT_TRUE(WaitState(LastRow(), TransferState::Done));
    EXPECT_EQ(Transfers().bytes(LastRow()), kMiB);
    ASSERT_TRUE(Idle());
    EXPECT_EQ(window_->records().recordCount(), 2);
}

// A store fault names its code and message in the row and in the notice; the
// file's name, with a backslash in it, shows escaped once.
TEST_F(Desktop, AStoreFaultShowsItsCause) {
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","action":"error",
        "status":403,"code":"AccessDenied","message":"The bucket policy denies this upload"})");
    Drop({QString::fromStdString(MakeFile(R"(a\b.txt)", "a document"))});
    ASSERT_TRUE(WaitState(LastRow(), TransferState::Failed));
    const QString details = Transfers().details(LastRow());
    EXPECT_TRUE(details.contains("The bucket policy denies this upload (AccessDenied)"))
        << details.toStdString();
    const QString notice = window_->notice()->text();
    EXPECT_TRUE(notice.contains("AccessDenied"));
    EXPECT_TRUE(notice.startsWith(R"(upload of a\\b.txt to )")) << notice.toStdString();
    EXPECT_TRUE(notice.contains(R"(/a\\b.txt failed: )")) << notice.toStdString();
    EXPECT_TRUE(window_->logPanel()->toPlainText().contains("AccessDenied"));
}

// 1,200 keys in 100-key pages arrive page by page; collapsing the folder
// stops its listing, and expanding it lists it anew.
TEST_F(Desktop, TheBrowserListsPageByPage) {
    const std::string folder = user_.toStdString() + "/";
    for (int i = 0; i < 1200; ++i) {
        char key[64];
        std::snprintf(key, sizeof key, "%sk%04d", folder.c_str(), i);
        ASSERT_EQ(PutObject(key, "x"), 200);
    }
    server_->Settings(R"({"max_list_keys":100})");
    server_->AddFault(R"({"method":"GET","subresource":"prefix","count":-1,
                          "action":"delay","delay_ms":150})");
    window_->tabs()->setCurrentWidget(window_->storePanel());
    desktop::StoreModel& store = window_->store();
    store.reload();
    ASSERT_TRUE(Idle());
    const QModelIndex at = store.indexOfPrefix(QString::fromStdString(folder));
    ASSERT_TRUE(at.isValid());
    QTreeView* view = window_->storePanel()->view();
    view->expand(at);
    std::set<int> seen;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            seen.insert(store.rowCount(at));
            return store.rowCount(at) >= 300;
        },
        kWaitMs));
    for (int count : seen) EXPECT_EQ(count % 100, 0) << count;
    EXPECT_GE(seen.size(), 3u);  // 0, 100, 200, ...: each page as it came
    view->collapse(at);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return store.listing(at) == desktop::StoreModel::Listing::Stopped; }, kWaitMs));
    const int stopped = store.rowCount(at);
    EXPECT_LT(stopped, 1200);
    EXPECT_LT(server_->GetStats().requests["ListObjects"], 12);
    server_->Reset();
    view->expand(at);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return store.listing(at) == desktop::StoreModel::Listing::Listed; }, kWaitMs));
    EXPECT_EQ(store.rowCount(at), 1200);
}

// Closing during a download asks, stops it, waits for the range in flight
// and leaves nothing behind; a second close does not wait.
TEST_F(Desktop, ClosingDuringATransferLeavesNoTemporaryFile) {
    const std::string key = user_.toStdString() + "/big.bin";
    ASSERT_EQ(PutObject(key, testdata::RandomBytes(8 * kMiB, 4)), 200);
    server_->AddFault(R"({"method":"GET","subresource":"none","count":-1,
                          "action":"delay","delay_ms":300})");
    TempDir out;
    chooser_.folder = QString::fromStdString(out.path());
    window_->store().reload();
    for (bool twice : {false, true}) {
        SCOPED_TRACE(twice ? "closed twice" : "closed once");
        ASSERT_TRUE(Idle());
        desktop::StoreModel& store = window_->store();
        QTreeView* view = window_->storePanel()->view();
        window_->tabs()->setCurrentWidget(window_->storePanel());
        const long ranges = server_->GetStats().requests["GetObject"];
        const QModelIndex folder = store.indexOfPrefix(user_ + "/");
        ASSERT_TRUE(folder.isValid());
        view->expand(folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return store.rowCount(folder) == 1; }, kWaitMs));
        Select(view, store.index(0, 0, folder));
        Click(window_->storePanel()->downloadButton());
        const quint64 row = LastRow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Transfers().bytes(row) >= kMiB; }, kWaitMs));
        const QDir files(QString::fromStdString(out.path()));
        EXPECT_EQ(files.entryList(QDir::Files | QDir::Hidden).size(), 1);  // the temporary file
        window_->close();
        if (twice) {
            window_->close();
            EXPECT_TRUE(window_->abandoned());
        } else {
            EXPECT_TRUE(window_->isVisible());  // waiting for the range in flight
            EXPECT_EQ(Transfers().state(row), TransferState::Stopping);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->isVisible(); }, kWaitMs));
        EXPECT_EQ(files.entryList(QDir::Files | QDir::Hidden).size(), 0);
        ASSERT_TRUE(Idle());
        EXPECT_LT(server_->GetStats().requests["GetObject"] - ranges, 8);
        if (!twice) {
            EXPECT_EQ(Transfers().state(row), TransferState::Stopped);
            EXPECT_FALSE(window_->abandoned());
            OpenWindow();
        }
    }
}

// The window a person sees: records, a running transfer, a failure; and the
// empty states of a new user. Written under the build tree.
TEST_F(Desktop, Screenshots) {
    window_->userField()->clear();
    QTest::keyClicks(window_->userField(), "dora");
    QTest::keyClick(window_->userField(), Qt::Key_Return);
    ASSERT_TRUE(Idle());
    SaveScreenshot("empty.png");
    Drop({QString::fromStdString(MakeFile("2024/report.pdf", testdata::RandomBytes(300000, 5))),
          QString::fromStdString(
              MakeFile("photos/holiday.jpg", testdata::RandomBytes(2 * kMiB, 6)))});
    ASSERT_TRUE(WaitAllFinal());
    window_->recordsPanel()->backupNameField()->setText("weekly");
    Drop({QString::fromStdString(MakeFile("2025/report.pdf", testdata::RandomBytes(310000, 7)))});
    ASSERT_TRUE(WaitAllFinal());
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","action":"error",
        "status":403,"code":"AccessDenied","message":"The bucket policy denies this upload"})");
    Drop({QString::fromStdString(MakeFile("notes.txt", "notes"))});
    ASSERT_TRUE(WaitAllFinal());
    // The store, a level or two open.
    window_->tabs()->setCurrentWidget(window_->storePanel());
    desktop::StoreModel& store = window_->store();
    store.reload();
    ASSERT_TRUE(Idle());
    for (const char* folder : {"dora/", "dora/default/", "dora/weekly/"}) {
        window_->storePanel()->view()->expand(store.indexOfPrefix(folder));
        ASSERT_TRUE(Idle());
    }
    SaveScreenshot("store.png");
    window_->tabs()->setCurrentWidget(window_->recordsPanel());
    server_->AddFault(R"({"method":"PUT","subresource":"partNumber","count":-1,
                          "action":"delay","delay_ms":700})");
    Drop({QString::fromStdString(MakeFile("video.mp4", testdata::RandomBytes(60 * kMiB, 8)))});
    const quint64 row = LastRow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transfers().bytes(row) >= 10 * kMiB; }, kWaitMs));
    QTest::qWait(600);  // a speed and a time left to show
    SaveScreenshot("main.png");
    window_->tabs()->setCurrentWidget(window_->logPanel());
    SaveScreenshot("log.png");
    ASSERT_TRUE(window_->aboutText().contains(NIMBRA_ENDPOINT));
    window_->transferPanel()->stopButton()->click();
    ASSERT_TRUE(WaitState(row, TransferState::Stopped));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setOrganizationName("Nimbra");
    QApplication::setApplicationName("nimbra-desktop-test");
    // Settings in a folder of this run's own.
    const TempDir settings;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
