#include "folder_page_files.h"

#include <cstdio>
#include <utility>

namespace vellumax::converter {

namespace {

std::string PageNumber(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", number);
    return text;
}

}  // namespace

std::filesystem::path OutputFolder(const std::string& inputPath) {
    const std::filesystem::path input(inputPath);
    return input.has_parent_path() ? input.parent_path() : std::filesystem::path(".");
}

std::filesystem::path OutputPath(const std::string& inputPath, const std::string& suffix) {
    return OutputFolder(inputPath) / (std::filesystem::path(inputPath).stem().string() + suffix);
}

FolderPageFiles::FolderPageFiles(const std::string& inputPath, std::string extension)
    : folder_(OutputFolder(inputPath)),
      stem_(std::filesystem::path(inputPath).stem().string()),
      extension_(std::move(extension)) {}

std::filesystem::path FolderPageFiles::PagePath(int number) const {
    return folder_ / (stem_ + "-" + PageNumber(number) + "." + extension_);
}

std::FILE* FolderPageFiles::Open(int number, std::string& error) {
    if (!file_.Create(folder_, PageNumber(number), error)) {
        return nullptr;
    }
    return file_.stream();
}

std::string FolderPageFiles::Keep(int number) {
    if (!file_.exists()) {
        return "no page file is open";
    }
    return file_.Publish(PagePath(number));
}

void FolderPageFiles::Discard(int) {
    file_.Discard();
}

}  // namespace vellumax::converter
