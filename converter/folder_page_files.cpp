#include "folder_page_files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace vellumax::converter {

namespace {

// The temporary page being written, for RemovePendingPage. The flag is cleared before the name
// changes and set after, so a signal never sees half a name.
char pendingName[4096];
volatile std::sig_atomic_t pendingSet = 0;

void SetPending(const std::string& path) {
    pendingSet = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (path.empty() || path.size() >= sizeof pendingName) {
        return;
    }
    std::memcpy(pendingName, path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    pendingSet = 1;
}

std::string PageNumber(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", number);
    return text;
}

// mkstemp creates files readable by the owner only; pages get the usual permissions.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

FolderPageFiles::FolderPageFiles(const std::string& inputPath) {
    const std::filesystem::path input(inputPath);
    folder_ = input.has_parent_path() ? input.parent_path() : std::filesystem::path(".");
    stem_ = input.stem().string();
}

FolderPageFiles::~FolderPageFiles() {
    if (stream_ != nullptr) {
        Discard(0);
    }
}

std::filesystem::path FolderPageFiles::PagePath(int number) const {
    return folder_ / (stem_ + "-" + PageNumber(number) + ".jpg");
}

std::FILE* FolderPageFiles::Open(int number, std::string& error) {
    if (stream_ != nullptr) {
        Discard(number);
    }
    // Short on purpose: a long input name must not push the temporary name over the limit.
    std::string pattern = (folder_ / (".page-" + PageNumber(number) + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        error = "cannot create a file in " + folder_.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    temporaryPath_ = name.data();
    SetPending(temporaryPath_);
    fchmod(descriptor, NewFileMode());
    stream_ = fdopen(descriptor, "wb");
    if (stream_ == nullptr) {
        error = std::string("cannot write a page file: ") + std::strerror(errno);
        close(descriptor);
        unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
        SetPending({});
    }
    return stream_;
}

std::string FolderPageFiles::Keep(int number) {
    if (stream_ == nullptr) {
        return "no page file is open";
    }
    // Forgotten only once renamed or removed, whichever way this returns.
    const struct PendingUntilReturn {
        ~PendingUntilReturn() { SetPending({}); }
    } pendingUntilReturn;
    const std::string temporaryPath = std::exchange(temporaryPath_, {});
    const bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    const int writeError = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    const std::filesystem::path target = PagePath(number);
    if (!written || !closed) {
        unlink(temporaryPath.c_str());
        return "cannot write " + target.string() + ": " +
               std::strerror(written ? errno : writeError);
    }
    if (std::rename(temporaryPath.c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        unlink(temporaryPath.c_str());
        return "cannot write " + target.string() + ": " + std::strerror(renameError);
    }
    return {};
}

void FolderPageFiles::Discard(int) {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (!temporaryPath_.empty()) {
        unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
        SetPending({});
    }
}

void RemovePendingPage() noexcept {
    if (pendingSet != 0) {
        unlink(pendingName);
    }
}

}  // namespace vellumax::converter
