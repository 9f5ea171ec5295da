#include "conversion/work_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file_descriptor.h"
#include "platform/path_helpers.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QString SystemReason(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

// In a folder that others may write, anybody can rename our entries away and put their own in
// their place, unless the sticky bit keeps them to their own entries. The folder's owner can
// always do so.
bool OthersCanSwapEntries(const QString& folder) {
    struct stat info {};
    if (::stat(NativePath(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return false;  // not usable at all, which making the work folder will report
    }
    if (info.st_uid != ::getuid() && info.st_uid != 0) {
        return true;
    }
    return (info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) == 0;
}

bool IsPrivateFolder(const QString& folder) {
    return QFileInfo(folder).isAbsolute() && IsFolder(folder) && !OthersCanSwapEntries(folder);
}

QString PrivateCacheFolder() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) {
        return {};
    }
    const QString folder = cache + "/vellumax";
    if (!QDir().mkpath(folder) || ::chmod(NativePath(folder).constData(), S_IRWXU) != 0) {
        return {};
    }
    return folder;
}

QString WithoutTrailingSeparators(QString folder) {
    while (folder.size() > 1 && folder.endsWith('/')) {
        folder.chop(1);
    }
    return folder;
}

}  // namespace

QString TemporaryFolder() {
    for (const char* variable : {"TEMP", "TMPDIR"}) {
        const QString folder = qEnvironmentVariable(variable);
        if (!folder.isEmpty()) {
            // A relative value would name another folder once the converter runs elsewhere.
            return WithoutTrailingSeparators(QFileInfo(folder).absoluteFilePath());
        }
    }
    return "/tmp";
}

QString WorkFolderParent() {
    const QString temporary = TemporaryFolder();
    if (!OthersCanSwapEntries(temporary)) {
        return temporary;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateFolder(runtime)) {
        return WithoutTrailingSeparators(runtime);
    }
    if (const QString cache = PrivateCacheFolder(); !cache.isEmpty() && IsPrivateFolder(cache)) {
        return cache;
    }
    throw RuntimeError(70, "Permission denied: other users can replace files in " + temporary +
                               ", and there is no private folder to work in instead");
}

WorkFolder::WorkFolder() {
    const QString parent = WorkFolderParent();
    QByteArray pattern = NativePath(parent + '/' + kWorkFolderPrefix + "XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        const int error = errno;
        throw RuntimeError(ErrorFromErrno(error, FileAccess::Write).number(),
                           "no work folder can be made in " + parent + ": " + SystemReason(error));
    }
    path_ = PathFromNative(pattern);
    // Locked before the lock file appears: a folder with the file and no lock is abandoned.
    lock_ = ::open(pattern.constData(), kOpenFolder);
    const int lockFile =
        lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0
            ? -1
            : ::openat(lock_, kLockFileName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR);
    if (lockFile < 0) {
        const int error = errno;
        Remove();
        throw RuntimeError(
            75, "the work folder " + path_ + " cannot be locked: " + SystemReason(error));
    }
    ::close(lockFile);
}

WorkFolder::~WorkFolder() {
    Remove();
}

void WorkFolder::Remove() {
    // Whatever is left in it (the marker of a stopped batch, a page that could not be moved)
    // goes with it: the folder is this run's own.
    QDir(path_).removeRecursively();
    if (lock_ >= 0) {
        ::close(lock_);
        lock_ = -1;
    }
}

void RemoveAbandonedWorkFolders(const QString& parent) {
    const QStringList names =
        QDir(parent).entryList({QString(kWorkFolderPrefix) + "??????"},
                               QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString path = parent + '/' + name;
        const FileDescriptor folder(::open(NativePath(path).constData(), kOpenFolder));
        struct stat info {};
        struct stat lockInfo {};
        const bool abandoned =
            folder.get() >= 0 && ::fstat(folder.get(), &info) == 0 && info.st_uid == ::getuid() &&
            ::fstatat(folder.get(), kLockFileName, &lockInfo, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(lockInfo.st_mode) && ::flock(folder.get(), LOCK_EX | LOCK_NB) == 0;
        if (abandoned) {
            QDir(path).removeRecursively();
        }
    }
}

void RemoveAbandonedWorkFolders() {
    try {
        RemoveAbandonedWorkFolders(WorkFolderParent());
    } catch (const RuntimeError&) {
        // Nowhere to work: the next run says so.
    }
}

}  // namespace vellumax
