#pragma once

#include <sys/types.h>

#include <QString>
#include <optional>

namespace vellumax {

// What makes two paths one file: its device and inode, whatever the spelling or link.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The file at `path`, links followed; nothing when it cannot be examined.
std::optional<FileIdentity> IdentityOf(const QString& path);
std::optional<FileIdentity> IdentityOf(int descriptor);

// Whether the two paths name one and the same existing file.
bool IsSameFile(const QString& a, const QString& b);

// A text that is equal for two paths exactly when they name one file: the identity where the
// file can be examined, else the absolute path.
QString IdentityKey(const QString& path);

}  // namespace vellumax
