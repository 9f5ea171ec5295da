#pragma once

#include <QString>

#include "conversion/document_reader.h"
#include "platform/runtime_error.h"

// The failures every part of the document reader reports, in one wording.
namespace vellumax::reader {

ReaderFailure FileNotFound();
ReaderFailure AccessError(const QString& detail = {});
ReaderFailure InvalidFormat(const QString& detail = {});
ReaderFailure TooLarge(const QString& detail);

// The run-time wording of a system error, told after "Path/File access error".
QString SystemReason(int errorNumber, FileAccess access);

}  // namespace vellumax::reader
