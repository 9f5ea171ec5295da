#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <utility>

namespace vellumax {

// An open file descriptor, closed when the object goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(descriptor_, other.descriptor_);
        return *this;
    }
    ~FileDescriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    int get() const { return descriptor_; }
    // Closes now, so that a late write error is seen.
    int Close() { return ::close(std::exchange(descriptor_, -1)); }

private:
    int descriptor_ = -1;
};

// Writes all `size` bytes, however many calls it takes; false, with errno set, when one fails.
inline bool WriteFully(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(descriptor, data, size);
        if (put < 0 && errno != EINTR) {
            return false;
        }
        if (put > 0) {
            data += put;
            size -= static_cast<std::size_t>(put);
        }
    }
    return true;
}

}  // namespace vellumax
