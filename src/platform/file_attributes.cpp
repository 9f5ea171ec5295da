#include "platform/file_attributes.h"

#include <sys/stat.h>
#include <QFile>
#include <cerrno>

#include "platform/path_helpers.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

QString LastComponent(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith('/')) {
        trimmed.chop(1);
    }
    return trimmed.mid(trimmed.lastIndexOf('/') + 1);
}

int KindBits(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        return kDirectory;
    }
    return S_ISREG(info.st_mode) ? kArchive : 0;
}

}  // namespace

int FileAttributes(const QString& path) {
    const QByteArray native = NativePath(path);
    struct stat entry {};
    if (path.isEmpty() || ::lstat(native.constData(), &entry) != 0) {
        throw ErrorFromErrno(path.isEmpty() ? ENOENT : errno, FileAccess::Read);
    }
    int attributes = 0;
    if (S_ISLNK(entry.st_mode)) {
        attributes |= kReparsePoint;
        struct stat target {};
        if (::stat(native.constData(), &target) == 0) {
            attributes |= KindBits(target);
        }
    } else {
        attributes |= KindBits(entry);
        if ((entry.st_mode & S_IWUSR) == 0) {
            attributes |= kReadOnly;
        }
    }
    if (LastComponent(path).startsWith('.')) {
        attributes |= kHidden;
    }
    return attributes;
}

}  // namespace vellumax
