// The file and folder choosers in the configuration folder, beside the record
// journal that SQLite writes in the same process: they neither list the
// journal's files nor open them. Closing any descriptor of such a file in this
// process would drop the POSIX locks SQLite holds on it, and an outside reader
// would then delete the write-ahead log still being written to.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "ui/station/batch_mode.h"

namespace karvelo::testing {
namespace {

const std::vector<std::string> kJournalFiles = {
    "records.sqlite",         "records.sqlite-wal",  "records.sqlite-shm",
    "records.sqlite-journal", "records.sqlite.lock",
};

// A write lock on the first byte of a file, held through one descriptor as
// SQLite holds its locks, until the end of the test.
class HeldLock {
  public:
    explicit HeldLock(const std::string& path) : fd_(open(path.c_str(), O_RDWR)) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0;
        lock.l_len = 1;
        held_ = fd_ >= 0 && fcntl(fd_, F_SETLK, &lock) == 0;
    }
    ~HeldLock() {
        if (fd_ >= 0) close(fd_);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

    bool held() const { return held_; }

  private:
    int fd_;
    bool held_ = false;
};

// Whether another process sees this one's write lock on the first byte of
// `path` (a process never sees a conflict with its own locks).
bool LockSeenFromOutside(const std::string& path) {
    const pid_t self = getpid();
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(path.c_str(), O_RDONLY);
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        probe.l_start = 0;
        probe.l_len = 1;
        const bool seen = fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type == F_WRLCK &&
                          probe.l_pid == self;
        _exit(seen ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct ChooserCase {
    const char* name;
    std::function<std::optional<QString>(const QString& folder)> choose;
    const char* shown;  // an entry the chooser lists in the folder
};

void PrintTo(const ChooserCase& c, std::ostream* out) {
    *out << c.name;
}

class FileChooserBesideJournal : public ::testing::TestWithParam<ChooserCase> {
  protected:
    void SetUp() override {
        for (const std::string& name : kJournalFiles) dir.Write(name, "SQLite format 3");
        dir.Write("a.csv", "1;2\n");
        dir.Write("book.xlsx", "x");
        std::filesystem::create_directory(dir.path() / "runs");
    }
    void TearDown() override { app::SetBatchMode(true); }

    TempDir dir;
};

TEST_P(FileChooserBesideJournal, NeitherListsNorOpensTheJournalsFiles) {
    std::vector<std::unique_ptr<HeldLock>> locks;
    for (const std::string& name : kJournalFiles) {
        locks.push_back(std::make_unique<HeldLock>(dir.file(name)));
        ASSERT_TRUE(locks.back()->held()) << name;
        ASSERT_TRUE(LockSeenFromOutside(dir.file(name))) << name;
    }

    const QString folder = QString::fromStdString(dir.path().string());
    bool opened = false;
    bool loaded = false;
    QStringList listed;
    app::SetBatchMode(false);
    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr) return;
        opened = true;
        auto* files = chooser->findChild<QFileSystemModel*>();
        auto* view = chooser->findChild<QListView*>(QStringLiteral("listView"));
        if (files == nullptr || view == nullptr) {
            chooser->reject();
            return;
        }
        // Posted before the chooser existed, this runs ahead of the listing's
        // results, which the model receives as events too.
        QObject::connect(files, &QFileSystemModel::directoryLoaded, chooser,
                         [&](const QString& path) { loaded = loaded || path == folder; });
        // A filter that lets every name through: the names must be hidden all the same.
        chooser->setNameFilter(QStringLiteral("*"));
        if (QTest::qWaitFor([&] { return loaded; }, 10000)) {
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row) {
                listed << view->model()->index(row, 0, root).data().toString();
            }
        }
        chooser->reject();
    });
    const std::optional<QString> chosen = GetParam().choose(folder);
    app::SetBatchMode(true);

    ASSERT_TRUE(opened);
    ASSERT_TRUE(loaded) << "the chooser never listed " << folder.toStdString();
    EXPECT_FALSE(chosen.has_value());
    EXPECT_TRUE(listed.contains(QString::fromUtf8(GetParam().shown)))
        << listed.join(u' ').toStdString();
    for (const std::string& name : kJournalFiles) {
        EXPECT_FALSE(listed.contains(QString::fromStdString(name))) << name;
        EXPECT_TRUE(LockSeenFromOutside(dir.file(name)))
            << name << " was opened and closed: its lock is gone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Choosers, FileChooserBesideJournal,
    ::testing::Values(
        ChooserCase{"CsvFile",
                    [](const QString& f) { return app::ChooseExistingCsvFile(nullptr, f); },
                    "a.csv"},
        ChooserCase{"Workbook",
                    [](const QString& f) { return app::ChooseExistingWorkbook(nullptr, f); },
                    "book.xlsx"},
        ChooserCase{"CsvExportFile",
                    [](const QString& f) {
                        return app::ChooseCsvExportFile(nullptr, f, QStringLiteral("run.csv"));
                    },
                    "a.csv"},
        ChooserCase{"Folder",
                    [](const QString& f) {
                        return app::ChooseFolder(nullptr, QStringLiteral("Please choose a folder."),
                                                 f);
                    },
                    "runs"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace karvelo::testing
