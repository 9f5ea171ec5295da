#include "conversion/reader/source_document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "conversion/reader/reader_failures.h"

namespace vellumax::reader {

namespace {

enum class Header { Imaging, Tiff, Unknown };

Header HeaderKind(const char* bytes) {
    if (std::memcmp(bytes, "EP*\0", 4) == 0) {
        return Header::Imaging;
    }
    // Classic TIFF in both byte orders, and BigTIFF, which libtiff reads just as well.
    for (const char* tiff : {"II*\0", "MM\0*", "II+\0", "MM\0+"}) {
        if (std::memcmp(bytes, tiff, 4) == 0) {
            return Header::Tiff;
        }
    }
    return Header::Unknown;
}

}  // namespace

std::optional<ReaderFailure> OpenSource(const std::string& path, SourceFile& source) {
    // Non-blocking, so that a named pipe cannot hold the open; only regular files go on.
    source.descriptor =
        FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (source.descriptor.get() < 0) {
        return errno == ENOENT ? FileNotFound()
                               : AccessError(SystemReason(errno, FileAccess::Read));
    }
    struct stat status {};
    if (::fstat(source.descriptor.get(), &status) != 0) {
        return AccessError(SystemReason(errno, FileAccess::Read));
    }
    if (S_ISDIR(status.st_mode)) {
        return AccessError("the path names a folder");
    }
    if (!S_ISREG(status.st_mode)) {
        return AccessError("the path names no regular file");
    }
    source.size = static_cast<std::uint64_t>(status.st_size);
    // Some file systems (FUSE ones among them) give no block count at all; the size stands in.
    const std::uint64_t allocated = static_cast<std::uint64_t>(status.st_blocks) * 512;
    source.bytesOnDisk = status.st_blocks > 0 ? std::min(source.size, allocated) : source.size;
    source.device = status.st_dev;
    source.inode = status.st_ino;

    // A header and the first directory's offset: anything shorter is no document.
    std::array<char, 8> header{};
    const ssize_t count = ::pread(source.descriptor.get(), header.data(), header.size(), 0);
    if (count < 0) {
        return AccessError(SystemReason(errno, FileAccess::Read));
    }
    if (count == 0) {
        return InvalidFormat("the file is empty");
    }
    if (count < static_cast<ssize_t>(header.size())) {
        return InvalidFormat("the file is " + std::to_string(count) +
                             " bytes long, too short for a document's header");
    }
    const Header kind = HeaderKind(header.data());
    if (kind == Header::Unknown) {
        return InvalidFormat("the file does not start as a TIFF or document-imaging file does");
    }
    // A classic header whose first directory is at 0 points at no page at all.
    const bool bigTiff = header[2] == '+' || header[3] == '+';
    if (!bigTiff && header[4] == 0 && header[5] == 0 && header[6] == 0 && header[7] == 0) {
        return InvalidFormat("the document holds no page");
    }
    source.imagingHeader = kind == Header::Imaging;
    return std::nullopt;
}

std::optional<ReaderFailure> RefuseSourceAsTarget(const SourceFile& source,
                                                  const std::string& target) {
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0 && status.st_dev == source.device &&
        status.st_ino == source.inode) {
        return AccessError("the target is the source document itself");
    }
    return std::nullopt;
}

SourceReading::SourceReading(const SourceFile& file, const std::string& name)
    : stream_{file.descriptor.get(), file.size, false, file.imagingHeader},
      messages_(name),
      tiff_(OpenTiff(name, "r", stream_, messages_), &TIFFClose) {}

ReaderFailure SourceReading::Failure(const std::string& what) const {
    if (stream_.systemError != 0) {
        return AccessError(SystemReason(stream_.systemError, FileAccess::Read));
    }
    return InvalidFormat(messages_.Reason(what));
}

}  // namespace vellumax::reader
