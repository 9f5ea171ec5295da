#include "folder_page_files.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace vellumax::converter {

namespace {

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
    fchmod(descriptor, NewFileMode());
    stream_ = fdopen(descriptor, "wb");
    if (stream_ == nullptr) {
        error = std::string("cannot write a page file: ") + std::strerror(errno);
        close(descriptor);
        unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
    return stream_;
}

std::string FolderPageFiles::Keep(int number) {
    if (stream_ == nullptr) {
        return "no page file is open";
    }
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
    }
}

}  // namespace vellumax::converter
