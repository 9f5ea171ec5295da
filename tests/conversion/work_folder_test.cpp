#include "conversion/work_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/path_helpers.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::MakeFile;

// Sets environment variables for the life of the object.
class ScopedEnvironment {
public:
    void Set(const char* name, const QByteArray& value) {
        saved_.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        qputenv(name, value);
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            it->wasSet ? qputenv(it->name, it->value) : qunsetenv(it->name);
        }
    }

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> saved_;
};

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TEST(WorkFolderTest, GoesToAPrivateFolderWhenOthersCouldSwapItsContents) {
    QTemporaryDir open, runtime;
    ASSERT_EQ(::chmod(QFile::encodeName(open.path()), 0777), 0);  // no sticky bit
    ScopedEnvironment environment;
    environment.Set("TEMP", QFile::encodeName(open.path()));
    environment.Set("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    {
        const WorkFolder work;
        EXPECT_TRUE(Entries(open.path()).isEmpty());
        EXPECT_EQ(FolderOf(work.path()), runtime.path() + '/');
    }
    ASSERT_EQ(::chmod(QFile::encodeName(open.path()), 01777), 0);  // the sticky bit, as /tmp has
    const WorkFolder work;
    EXPECT_EQ(FolderOf(work.path()), open.path() + '/');
}

TEST(WorkFolderTest, ARelativeTemporaryFolderIsTakenFromTheCurrentFolder) {
    QTemporaryDir current;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(current.path()));
    ASSERT_TRUE(QDir(current.path()).mkdir("tmp"));
    ScopedEnvironment environment;
    environment.Set("TEMP", "tmp/");
    EXPECT_EQ(TemporaryFolder(), current.path() + "/tmp");
    QDir::setCurrent(previous);
}

// Only the folders of runs that are gone are removed; a live run's, a stranger's look-alike
// and a link are left alone.
TEST(WorkFolderTest, RemovesOnlyWhatDeadRunsLeft) {
    QTemporaryDir temp, elsewhere;
    ScopedEnvironment environment;
    environment.Set("TEMP", QFile::encodeName(temp.path()));
    MakeFile(temp.path() + "/vellumax-dead00/run.lock");
    MakeFile(temp.path() + "/vellumax-dead00/document-0001.jpg");
    MakeFile(temp.path() + "/vellumax-nolock/nconvert.exe");
    MakeFile(elsewhere.path() + "/run.lock");
    ASSERT_TRUE(QFile::link(elsewhere.path(), temp.path() + "/vellumax-linked"));
    const WorkFolder live;

    RemoveAbandonedWorkFolders();

    QStringList kept{FileNameOf(live.path()), "vellumax-linked", "vellumax-nolock"};
    QStringList entries = Entries(temp.path());
    kept.sort();
    entries.sort();
    EXPECT_EQ(entries, kept);
    EXPECT_EQ(Entries(elsewhere.path()), QStringList({"run.lock"}));
}

}  // namespace
}  // namespace vellumax
