#include "conversion/page_delivery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <QFile>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>

#include "platform/file_descriptor.h"
#include "platform/file_identity.h"
#include "platform/path_helpers.h"

namespace vellumax {

namespace {

constexpr char kTemporaryPattern[] = ".vx-XXXXXX";

bool CopyAll(int from, int to) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (!WriteFully(to, buffer, static_cast<size_t>(got))) {
            return false;
        }
    }
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

constexpr char kSourceMark[] = "user.vellumax.source";

// Marks the page with its document; a file system without extended attributes keeps no mark,
// and its pages are then told apart within a run and by the run's report only.
void MarkSource(int descriptor, const QByteArray& source) {
    ::fsetxattr(descriptor, kSourceMark, source.constData(), static_cast<size_t>(source.size()), 0);
}

// The document the file at `target` was written for; empty for a file without our mark, and
// for a link, which is never followed.
QByteArray SourceMarkOf(const QByteArray& target) {
    QByteArray mark(4096, Qt::Uninitialized);
    const ssize_t size =
        ::lgetxattr(target.constData(), kSourceMark, mark.data(), static_cast<size_t>(mark.size()));
    return size > 0 ? mark.left(size) : QByteArray();
}

// Renames `from` onto `to`, unless `to` holds a page of another document than `source`, which
// `owner` then names. Where two runs write one folder at once, only one of them gets a free name:
// the other sees the mark of the page that took it.
int PlaceAt(const QByteArray& from, const QByteArray& to, const QByteArray& source,
            QString& owner) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    // File systems that cannot refuse to replace (EINVAL) are checked, then written.
    if (errno != EEXIST && errno != EINVAL) {
        return errno;
    }
    const QByteArray mark = SourceMarkOf(to);
    if (!mark.isEmpty() && mark != source &&
        !IsSameFile(PathFromNative(mark), PathFromNative(source))) {
        owner = PathFromNative(mark);
        return EEXIST;
    }
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// A fresh file made from `pattern`, locked while it is written: the lock tells other runs'
// RemoveAbandonedCopies that a live run owns it. One of them may take the file in the moment
// before the lock is ours; then it has no name left, and another is made. Where the file system
// has no locks, no cleaner gets one either.
int LockedTemporaryFile(const QByteArray& pattern, QByteArray& temporary) {
    for (;;) {
        temporary = pattern;
        const int file = ::mkostemp(temporary.data(), O_CLOEXEC);
        struct stat info {};
        if (file < 0 || ::flock(file, LOCK_EX) != 0 || ::fstat(file, &info) != 0 ||
            info.st_nlink > 0) {
            return file;
        }
        ::close(file);
    }
}

// Copies into a fresh file of a short name in the target's folder (mkstemp creates it
// exclusively, so a link planted there is never followed), flushes it to the disk and renames
// it onto the target.
int CopyThenRename(const QByteArray& page, const QByteArray& target, const QByteArray& source,
                   QString& owner) {
    const QByteArray folder = NativePath(FolderOf(PathFromNative(target)));
    QByteArray temporary;
    const FileDescriptor from(::open(page.constData(), O_RDONLY | O_CLOEXEC));
    if (from.get() < 0) {
        return errno;
    }
    FileDescriptor copy(LockedTemporaryFile(folder + kTemporaryPattern, temporary));
    if (copy.get() < 0) {
        return errno;
    }
    MarkSource(copy.get(), source);
    // The lock holds while any descriptor of the file is open: this one keeps it to the rename.
    const FileDescriptor lock(::dup(copy.get()));
    const bool written = ::fchmod(copy.get(), NewFileMode()) == 0 &&
                         CopyAll(from.get(), copy.get()) && ::fsync(copy.get()) == 0;
    int failure = written ? 0 : errno;
    if (copy.Close() != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0) {
        failure = PlaceAt(temporary, target, source, owner);
    }
    if (failure != 0) {
        ::unlink(temporary.constData());
    }
    return failure;
}

// Whether mkostemp could have made `name` from kTemporaryPattern.
bool IsTemporaryName(std::string_view name) {
    const std::string_view pattern(kTemporaryPattern);
    const size_t fixed = pattern.find('X');
    const auto isAlphanumeric = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    return name.size() == pattern.size() && name.substr(0, fixed) == pattern.substr(0, fixed) &&
           std::all_of(name.begin() + fixed, name.end(), isAlphanumeric);
}

struct FolderClose {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

}  // namespace

int DeliverPage(const QString& page, const QString& target, const QString& source, QString& owner) {
    const QByteArray from = NativePath(page);
    const QByteArray to = NativePath(target);
    const QByteArray mark = NativePath(source);
    struct stat pageInfo {};
    struct stat folderInfo {};
    if (::stat(from.constData(), &pageInfo) != 0) {
        return errno;
    }
    const QByteArray folder = NativePath(FolderOf(target));
    if (::stat(folder.constData(), &folderInfo) != 0 || folderInfo.st_dev != pageInfo.st_dev) {
        return CopyThenRename(from, to, mark, owner);
    }
    // On the disk before it takes its name, as a copy is: people delete their originals once
    // the pages are there.
    const FileDescriptor file(::open(from.constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return errno;
    }
    MarkSource(file.get(), mark);
    if (::fsync(file.get()) != 0) {
        return errno;
    }
    return PlaceAt(from, to, mark, owner);
}

int SyncFolder(const QString& folder) {
    const QByteArray native = NativePath(folder);
    const FileDescriptor descriptor(
        ::open(native.isEmpty() ? "." : native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptor.get() < 0 || ::fsync(descriptor.get()) != 0) {
        // Some file systems cannot sync a folder at all; only a failed write is a failure.
        return errno == EIO ? EIO : 0;
    }
    return 0;
}

void RemoveAbandonedCopies(const QString& folder) {
    const std::unique_ptr<DIR, FolderClose> listing(::opendir(NativePath(folder).constData()));
    if (!listing) {
        return;
    }
    const int directory = ::dirfd(listing.get());
    while (const dirent* entry = ::readdir(listing.get())) {
        if (!IsTemporaryName(entry->d_name)) {
            continue;
        }
        const FileDescriptor file(
            ::openat(directory, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {};
        struct stat named {};
        // Checked again by name once locked: a live run may have renamed it onto its page.
        const bool abandoned =
            file.get() >= 0 && ::fstat(file.get(), &opened) == 0 && S_ISREG(opened.st_mode) &&
            opened.st_uid == ::getuid() && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(directory, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
        if (abandoned) {
            ::unlinkat(directory, entry->d_name, 0);
        }
    }
}

int ConverterPageNumber(const QString& name, const QString& stem, const QString& extension) {
    const QString prefix = stem + '-';
    const QString suffix = '.' + extension;
    if (!name.startsWith(prefix) || !name.endsWith(suffix)) {
        return 0;
    }
    const QString digits = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size());
    bool isNumber = false;
    const int number = digits.toInt(&isNumber);
    return isNumber && number > 0 && digits.front().isDigit() ? number : 0;
}

}  // namespace vellumax
