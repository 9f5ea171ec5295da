#pragma once

#include <QString>

namespace vellumax {

// Windows-style attribute bits, synthesized from what this file system knows.
enum FileAttribute : int {
    kReadOnly = 1,  // the owner may not write
    kHidden = 2,    // the name begins with "."
    kSystem = 4,    // never set here
    kDirectory = 16,
    kArchive = 32,        // a regular file
    kReparsePoint = 1024  // a symbolic link, which is not followed
};

// The attribute set of the entry at `path`. A link carries the reparse bit together with
// the directory or archive bit of what it points to, as links do on Windows.
// Throws RuntimeError when the entry cannot be examined.
int FileAttributes(const QString& path);

}  // namespace vellumax
