#pragma once

#include <filesystem>
#include <string>

#include "page_converter.h"

namespace vellumax::converter {

// Pages as "<stem>-0001.jpg", ... in the input's folder. Each is written under a temporary
// name that does not end in ".jpg" and renamed when complete, so a reader collecting "*.jpg"
// never sees half a page.
class FolderPageFiles : public PageFiles {
public:
    explicit FolderPageFiles(const std::string& inputPath);
    ~FolderPageFiles() override;
    FolderPageFiles(const FolderPageFiles&) = delete;
    FolderPageFiles& operator=(const FolderPageFiles&) = delete;

    std::FILE* Open(int number, std::string& error) override;
    std::string Keep(int number) override;
    void Discard(int number) override;

    std::filesystem::path PagePath(int number) const;

private:
    std::filesystem::path folder_;
    std::string stem_;
    std::FILE* stream_ = nullptr;
    std::string temporaryPath_;
};

// Removes the page file being written, if any; safe to call from a signal handler, which is
// how a stopped conversion leaves no temporary file behind.
void RemovePendingPage() noexcept;

}  // namespace vellumax::converter
