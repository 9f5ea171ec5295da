#include "platform/errno_wording.h"

#include <cerrno>
#include <cstring>

namespace vellumax {

ErrnoWording WordingOfErrno(int errorNumber, FileAccess access) {
    switch (errorNumber) {
        case ENOENT:
            return access == FileAccess::Read ? ErrnoWording{53, "File not found"}
                                              : ErrnoWording{76, "Path not found"};
        case ENOTDIR:
            return {76, "Path not found"};
        case EACCES:
        case EPERM:
        case EROFS:
            return {70, "Permission denied"};
        case ENOSPC:
        case EDQUOT:
            return {61, "Disk full"};
        case EEXIST:
            return {58, "File already exists"};
        case EMFILE:
        case ENFILE:
            return {67, "Too many files"};
        case ENOMEM:
            return {7, "Out of memory"};
        case EISDIR:
        case EBUSY:
        case ETXTBSY:
            return {75, "Path/File access error"};
        case EIO:
            return {57, "Device I/O error"};
        default:
            return {75, std::strerror(errorNumber)};
    }
}

}  // namespace vellumax
