#include "conversion/reader/reader_failures.h"

#include <cstring>

namespace vellumax::reader {

namespace {

ReaderFailure Failure(int number, const std::string& text, const std::string& detail) {
    return {number, detail.empty() ? text : text + ": " + detail};
}

}  // namespace

ReaderFailure FileNotFound() {
    return {53, "File not found"};
}
ReaderFailure AccessError(const std::string& detail) {
    return Failure(75, "Path/File access error", detail);
}
ReaderFailure InvalidFormat(const std::string& detail) {
    return Failure(321, "Invalid file format", detail);
}
ReaderFailure TooLarge(const std::string& detail) {
    return Failure(7, "Out of memory", detail);
}

std::string SystemReason(int errorNumber, FileAccess access) {
    std::string reason = WordingOfErrno(errorNumber, access).description;
    return reason == AccessError().description ? std::strerror(errorNumber) : reason;
}

}  // namespace vellumax::reader
