#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace vellumax::converter {

// A file written under a hidden name in a folder of the caller's choosing, removed again unless
// published under its final name. While it exists it is registered for RemovePendingPage, so a
// stopped conversion leaves nothing half-written behind. A few can be pending at once (a
// document's output and the coded pages it is assembled from).
class TemporaryFile {
public:
    // Creates "<folder>/.page-<tag>-XXXXXX"; false with the reason in `error` when it cannot.
    bool Create(const std::filesystem::path& folder, const std::string& tag, std::string& error);
    ~TemporaryFile();
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool exists() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // The stream writing the file, until Publish or Discard.
    std::FILE* stream() const { return stream_; }
    // Hands the descriptor over to a library that closes it itself (libtiff); the file stays
    // pending until Publish or Discard.
    int ReleaseDescriptor();

    // Closes the file (if still open) and renames it to `target` with the usual permissions;
    // the reason when any of that fails, in which case the file is gone.
    std::string Publish(const std::filesystem::path& target);
    // Closes and removes the file.
    void Discard();

private:
    std::string path_;
    std::FILE* stream_ = nullptr;
    int slot_ = -1;
};

// Removes every pending temporary file; safe to call from a signal handler.
void RemovePendingPage() noexcept;

}  // namespace vellumax::converter
