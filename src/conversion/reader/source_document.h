#pragma once

#include <sys/types.h>
#include <cstdint>
#include <optional>
#include <string>

#include "conversion/reader/document_reader.h"
#include "conversion/reader/libtiff_stream.h"
#include "platform/file_descriptor.h"

namespace vellumax::reader {

struct SourceFile {
    FileDescriptor descriptor;
    std::uint64_t size = 0;
    // What the file takes on its disk: less than its size when it is sparse, and never more.
    std::uint64_t bytesOnDisk = 0;
    dev_t device = 0;
    ino_t inode = 0;
    bool imagingHeader = false;
};

// Opens the source for reading only and checks its header: a TIFF or document-imaging file
// that points at a first page.
std::optional<ReaderFailure> OpenSource(const std::string& path, SourceFile& source);

// Replacing the source by its own copy would lose the document when the copy is cut short,
// and the source is never to change.
std::optional<ReaderFailure> RefuseSourceAsTarget(const SourceFile& source,
                                                  const std::string& target);

// One libtiff reading of the source. Each has its own position and messages.
class SourceReading {
public:
    SourceReading(const SourceFile& file, const std::string& name);

    TIFF* tiff() const { return tiff_.get(); }
    std::uint64_t fileSize() const { return stream_.size; }
    // `what` says which step failed; libtiff's words, when it has any, tell why.
    ReaderFailure Failure(const std::string& what) const;
    // See LibtiffMessages: the current page's pixels are decoded from here on, and what
    // libtiff said of damage to their data since.
    void StartDecoding() { messages_.StartDecoding(); }
    const std::string& damage() const { return messages_.damage(); }

private:
    Stream stream_;
    LibtiffMessages messages_;
    TiffHandle tiff_;
};

}  // namespace vellumax::reader
