#pragma once

#include <optional>
#include <string>

#include "conversion/reader/document_reader.h"
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

    std::optional<ReaderFailure> Create(const std::string& target);
    std::optional<ReaderFailure> Commit(const std::string& target);

private:
    FileDescriptor descriptor_;
    std::string path_;
};

}  // namespace vellumax::reader
