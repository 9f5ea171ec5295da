#include "platform/file_identity.h"

#include <sys/stat.h>
#include <QFileInfo>

#include "platform/path_helpers.h"

namespace vellumax {

namespace {

FileIdentity IdentityFrom(const struct stat& info) {
    return {info.st_dev, info.st_ino};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const QString& path) {
    struct stat info {};
    if (path.isEmpty() || ::stat(NativePath(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return IdentityFrom(info);
}

std::optional<FileIdentity> IdentityOf(int descriptor) {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        return std::nullopt;
    }
    return IdentityFrom(info);
}

bool IsSameFile(const QString& a, const QString& b) {
    const auto first = IdentityOf(a);
    return first && first == IdentityOf(b);
}

QString IdentityKey(const QString& path) {
    if (const auto identity = IdentityOf(path)) {
        return QString("%1:%2").arg(identity->device).arg(identity->inode);
    }
    return "path:" + QFileInfo(path).absoluteFilePath();
}

}  // namespace vellumax
