#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace vellumax::fuzz {

WorkFolder::WorkFolder() {
    const char* temporary = std::getenv("TMPDIR");
    const std::string base = temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
    std::string pattern = base + "/vellumax-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        std::perror("cannot create the fuzzer's work folder");
        std::abort();
    }
    path_ = name.data();
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path WorkFolder::Write(const std::string& name, const std::uint8_t* data,
                                        std::size_t size) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Expect(static_cast<bool>(out), "the input can be written to " + file.string());
    return file;
}

std::set<std::string> WorkFolder::Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void WorkFolder::Clear(const std::string& keep) const {
    for (const std::string& name : Names()) {
        if (name != keep) {
            std::filesystem::remove_all(path_ / name);
        }
    }
}

void Broken(const std::string& promise) {
    std::fprintf(stderr, "\nBROKEN PROMISE: %s\n", promise.c_str());
    std::abort();
}

bool IsOneLine(const std::string& text) {
    return !text.empty() && text.find_first_of("\r\n") == std::string::npos;
}

}  // namespace vellumax::fuzz
