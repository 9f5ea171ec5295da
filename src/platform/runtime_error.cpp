#include "platform/runtime_error.h"

#include <cerrno>
#include <cstring>

namespace vellumax {

RuntimeError::RuntimeError(int number, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), description_(description) {}

RuntimeError ErrorFromErrno(int errorNumber, FileAccess access) {
    switch (errorNumber) {
        case ENOENT:
            return access == FileAccess::Read ? RuntimeError(53, "File not found")
                                              : RuntimeError(76, "Path not found");
        case ENOTDIR:
            return RuntimeError(76, "Path not found");
        case EACCES:
        case EPERM:
        case EROFS:
            return RuntimeError(70, "Permission denied");
        case ENOSPC:
        case EDQUOT:
            return RuntimeError(61, "Disk full");
        case EEXIST:
            return RuntimeError(58, "File already exists");
        case EMFILE:
        case ENFILE:
            return RuntimeError(67, "Too many files");
        case ENOMEM:
            return RuntimeError(7, "Out of memory");
        case EISDIR:
        case EBUSY:
        case ETXTBSY:
            return RuntimeError(75, "Path/File access error");
        case EIO:
            return RuntimeError(57, "Device I/O error");
        default:
            return RuntimeError(75, QString::fromLocal8Bit(std::strerror(errorNumber)));
    }
}

RuntimeError TypeMismatch() {
    return RuntimeError(13, "Type mismatch");
}
RuntimeError Overflow() {
    return RuntimeError(6, "Overflow");
}
RuntimeError InvalidProcedureCall() {
    return RuntimeError(5, "Invalid procedure call or argument");
}
RuntimeError InvalidPropertyValue() {
    return RuntimeError(380, "Invalid property value");
}

}  // namespace vellumax
