#include "conversion/reader_failures.h"

#include <cstring>

namespace vellumax::reader {

namespace {

ReaderFailure Failure(int number, const QString& text, const QString& detail) {
    return {number, detail.isEmpty() ? text : text + ": " + detail};
}

}  // namespace

ReaderFailure FileNotFound() {
    return {53, "File not found"};
}
ReaderFailure AccessError(const QString& detail) {
    return Failure(75, "Path/File access error", detail);
}
ReaderFailure InvalidFormat(const QString& detail) {
    return Failure(321, "Invalid file format", detail);
}
ReaderFailure TooLarge(const QString& detail) {
    return Failure(7, "Out of memory", detail);
}

QString SystemReason(int errorNumber, FileAccess access) {
    const QString reason = ErrorFromErrno(errorNumber, access).description();
    return reason == AccessError().description ? QString::fromLocal8Bit(std::strerror(errorNumber))
                                               : reason;
}

}  // namespace vellumax::reader
