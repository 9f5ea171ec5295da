#include "temporary_file.h"

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

// The temporary files being written, for RemovePendingPage. A slot's flag is cleared before its
// name changes and set after, so a signal never sees half a name.
constexpr int kSlots = 4;
char pendingNames[kSlots][4096];
volatile std::sig_atomic_t pendingSet[kSlots] = {};

int Claim(const std::string& path) {
    if (path.size() >= sizeof pendingNames[0]) {
        return -1;
    }
    for (int slot = 0; slot < kSlots; ++slot) {
        if (pendingSet[slot] == 0) {
            std::memcpy(pendingNames[slot], path.c_str(), path.size() + 1);
            std::atomic_signal_fence(std::memory_order_seq_cst);
            pendingSet[slot] = 1;
            return slot;
        }
    }
    return -1;
}

void Release(int slot) {
    if (slot >= 0) {
        pendingSet[slot] = 0;
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
}

// Holds signals back while a file comes into being or takes its final name, so that the
// watchdog's handler finds every temporary file in the list and never one already published.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &previous_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// mkstemp creates files readable by the owner only; pages get the usual permissions.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool TemporaryFile::Create(const std::filesystem::path& folder, const std::string& tag,
                           std::string& error) {
    Discard();
    // Short on purpose: a long input name must not push the temporary name over the limit.
    const std::string pattern = (folder / (".page-" + tag + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const SignalsHeld held;
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        error = "cannot create a file in " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    path_ = name.data();
    slot_ = Claim(path_);
    stream_ = fdopen(descriptor, "w+b");
    if (stream_ == nullptr || slot_ < 0) {
        error = slot_ < 0 ? "too many temporary files at once"
                          : std::string("cannot write a temporary file: ") + std::strerror(errno);
        if (stream_ == nullptr) {
            close(descriptor);
        }
        Discard();
        return false;
    }
    return true;
}

TemporaryFile::~TemporaryFile() {
    Discard();
}

int TemporaryFile::ReleaseDescriptor() {
    if (stream_ == nullptr) {
        return -1;
    }
    const int descriptor = dup(fileno(stream_));
    std::fclose(std::exchange(stream_, nullptr));
    return descriptor;
}

std::string TemporaryFile::Publish(const std::filesystem::path& target) {
    if (path_.empty()) {
        return "no file is being written";
    }
    bool ok = true;
    int error = 0;
    if (stream_ != nullptr) {
        const bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
        error = errno;
        const bool closed = std::fclose(std::exchange(stream_, nullptr)) == 0;
        if (written && !closed) {
            error = errno;
        }
        ok = written && closed;
    }
    if (ok) {
        chmod(path_.c_str(), NewFileMode());
        const SignalsHeld held;
        if (std::rename(path_.c_str(), target.c_str()) == 0) {
            Release(std::exchange(slot_, -1));
            path_.clear();
            return {};
        }
        error = errno;
    }
    if (error == 0) {
        error = EIO;
    }
    Discard();
    return "cannot write " + target.string() + ": " + std::strerror(error);
}

void TemporaryFile::Discard() {
    if (stream_ != nullptr) {
        std::fclose(std::exchange(stream_, nullptr));
    }
    if (!path_.empty()) {
        unlink(path_.c_str());
        path_.clear();
    }
    Release(std::exchange(slot_, -1));
}

void RemovePendingPage() noexcept {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (pendingSet[slot] != 0) {
            unlink(pendingNames[slot]);
        }
    }
}

}  // namespace vellumax::converter
