#include "conversion/reader/pending_target.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <cerrno>

#include "conversion/reader/reader_failures.h"

namespace vellumax::reader {

PendingTarget::~PendingTarget() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

std::optional<ReaderFailure> PendingTarget::Create(const std::string& target) {
    const std::string::size_type slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    // mkostemps creates the file exclusively, so nothing planted at the name is followed.
    std::string path = folder + "/.vellumax-XXXXXX.tmp";
    const int descriptor = ::mkostemps(path.data(), 4, O_CLOEXEC);
    if (descriptor < 0) {
        return AccessError(SystemReason(errno, FileAccess::Write));
    }
    descriptor_ = FileDescriptor(descriptor);
    path_ = path;
    return std::nullopt;
}

std::optional<ReaderFailure> PendingTarget::Commit(const std::string& target) {
    // Not flushed: the file lives for one conversion in the run's own folder, and a crash
    // takes the run with it.
    if (descriptor_.Close() != 0) {
        return AccessError(SystemReason(errno, FileAccess::Write));
    }
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        return AccessError(SystemReason(errno, FileAccess::Write));
    }
    path_.clear();
    return std::nullopt;
}

}  // namespace vellumax::reader
