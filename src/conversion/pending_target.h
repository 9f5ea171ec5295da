#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "conversion/document_reader.h"
#include "platform/file_descriptor.h"

namespace vellumax::reader {

// A temporary file in the target's folder, renamed onto the target once complete and removed
// otherwise, so that the target path never shows a partial document.
class PendingTarget {
public:
    PendingTarget() = default;
    PendingTarget(const PendingTarget&) = delete;
    PendingTarget& operator=(const PendingTarget&) = delete;
    ~PendingTarget();

    int descriptor() const { return descriptor_.get(); }

    std::optional<ReaderFailure> Create(const QString& target);
    std::optional<ReaderFailure> Commit(const QString& target);

private:
    FileDescriptor descriptor_;
    QByteArray path_;
};

}  // namespace vellumax::reader
