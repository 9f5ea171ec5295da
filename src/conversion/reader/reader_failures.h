#pragma once

#include <concepts>
#include <string>

#include "conversion/reader/document_reader.h"
#include "platform/errno_wording.h"

// The failures every part of the document reader reports, in one wording.
namespace vellumax::reader {

ReaderFailure FileNotFound();
ReaderFailure AccessError(const std::string& detail = {});
ReaderFailure InvalidFormat(const std::string& detail = {});
ReaderFailure TooLarge(const std::string& detail);

// The words of a failure put together from text and numbers, as "page ", 3, " is cut short".
inline std::string TextPiece(const std::string& text) {
    return text;
}
inline std::string TextPiece(const char* text) {
    return text;
}
template <std::integral Number>
std::string TextPiece(Number number) {
    return std::to_string(number);
}
template <typename... Pieces>
std::string Text(const Pieces&... pieces) {
    return (std::string() + ... + TextPiece(pieces));
}

// The run-time wording of a system error, told after "Path/File access error".
std::string SystemReason(int errorNumber, FileAccess access);

}  // namespace vellumax::reader
