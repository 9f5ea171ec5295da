#pragma once

#include <filesystem>
#include <string>

#include "page_converter.h"
#include "temporary_file.h"

namespace vellumax::converter {

// Pages as "<stem>-0001.<extension>", ... in the input's folder. Each is written under a
// temporary name that does not end in the extension and renamed when complete, so a reader
// collecting "*.jpg" never sees half a page.
class FolderPageFiles : public PageFiles {
public:
    explicit FolderPageFiles(const std::string& inputPath, std::string extension = "jpg");

    std::FILE* Open(int number, std::string& error) override;
    std::string Keep(int number) override;
    void Discard(int number) override;

    std::filesystem::path PagePath(int number) const;

private:
    std::filesystem::path folder_;
    std::string stem_;
    std::string extension_;
    TemporaryFile file_;
};

// The folder a converted file goes to, and the name it goes under with `suffix` after the
// input's stem ("-0001.jpg", "-all.pdf").
std::filesystem::path OutputFolder(const std::string& inputPath);
std::filesystem::path OutputPath(const std::string& inputPath, const std::string& suffix);

}  // namespace vellumax::converter
