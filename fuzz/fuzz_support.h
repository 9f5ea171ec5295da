#pragma once

// What both fuzz targets share: a private folder for the input and everything written from it,
// and a way to stop with a message when the code under test broke one of its promises.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace vellumax::fuzz {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at exit.
class WorkFolder {
public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes `size` bytes as the file `name`, replacing it.
    std::filesystem::path Write(const std::string& name, const std::uint8_t* data,
                                std::size_t size) const;
    // The names of everything in the folder, hidden files included.
    std::set<std::string> Names() const;
    // Removes everything in the folder except `keep`.
    void Clear(const std::string& keep) const;

private:
    std::filesystem::path path_;
};

// A broken promise is a finding: prints it and aborts, which libFuzzer reports as a crash.
[[noreturn]] void Broken(const std::string& promise);
inline void Expect(bool kept, const std::string& promise) {
    if (!kept) {
        Broken(promise);
    }
}

// A message is one line of text with something in it.
bool IsOneLine(const std::string& text);

}  // namespace vellumax::fuzz
