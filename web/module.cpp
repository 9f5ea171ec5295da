// The converter for the page, as a WebAssembly module: one document's bytes in, its pages'
// bytes out, with the program's failures. The documents library works on files, so each call
// gives it a folder of its own in memory (MEMFS), removed before the call returns.
//
//   const m = await createVellumax();
//   m.convert(name, bytes, "jpeg" | "png" | "pdf", quality)
//       -> { failure: string, files: [{ name, data: Uint8Array }], pages: number }
//   m.closingMessage(failures) -> string

#include <emscripten/bind.h>
#include <emscripten/val.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "conversion/document_conversion.h"
#include "conversion/failure_wording.h"

namespace {

namespace converter = vellumax::converter;
using emscripten::val;

struct Format {
    converter::OutputFormat format;
    std::string extension;
};

std::optional<Format> FormatNamed(const std::string& name) {
    if (name == "jpeg") {
        return Format{converter::OutputFormat::Jpeg, "jpg"};
    }
    if (name == "png") {
        return Format{converter::OutputFormat::Png, "png"};
    }
    if (name == "pdf") {
        return Format{converter::OutputFormat::Pdf, "pdf"};
    }
    return std::nullopt;
}

struct OutputFile {
    std::string name;
    std::vector<char> data;
};

struct Conversion {
    std::string failure;
    std::vector<OutputFile> files;
    int pages = 0;
};

// The document's name without its folder, as the page may hand over a path within a folder it
// was given.
std::string BaseName(const std::string& name) {
    return name.substr(name.find_last_of('/') + 1);
}

// The name without its last extension, as the program names its outputs; a leading dot starts
// no extension.
std::string StemOf(const std::string& name) {
    const std::string base = BaseName(name);
    const auto dot = base.find_last_of('.');
    return dot != std::string::npos && dot >= 1 ? base.substr(0, dot) : base;
}

// The document keeps its name in the work folder, for the failures that quote it, unless that
// name could not be a file's.
std::string SourceName(const std::string& name) {
    const std::string base = BaseName(name);
    const bool usable =
        !base.empty() && base != "." && base != ".." && base.find('\0') == std::string::npos;
    return usable ? base : "document";
}

Conversion Failed(int number, const std::string& description) {
    return {vellumax::FailureText(number, description), {}, 0};
}

// A folder of the in-memory file system for one call, gone with it.
class WorkFolder {
public:
    WorkFolder() : path_("/work/" + std::to_string(++count_)) {
        std::filesystem::create_directories(path_);
    }
    ~WorkFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    static inline unsigned count_ = 0;
    std::filesystem::path path_;
};

bool WriteFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

std::optional<std::vector<char>> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<char> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return data;
}

// The library's outputs under the names the user gets: "<stem>_<page>.<extension>", or
// "<stem>.<extension>" for the one file of the whole document.
std::vector<OutputFile> Collect(const vellumax::FolderConversion& conversion,
                                const std::string& stem, const Format& format) {
    std::vector<OutputFile> files;
    for (const auto& output : conversion.outputs) {
        auto data = ReadFile(output.file);
        if (!data) {
            throw std::runtime_error("cannot read back " + output.file.string());
        }
        const std::string page = output.page == 0 ? "" : "_" + std::to_string(output.page);
        files.push_back({stem + page + "." + format.extension, std::move(*data)});
    }
    return files;
}

Conversion ConvertBytes(const std::string& name, const std::vector<unsigned char>& bytes,
                        const Format& format, int quality) {
    const WorkFolder work;
    const std::filesystem::path source = work.path() / SourceName(name);
    const std::filesystem::path outputs = work.path() / "outputs";
    std::filesystem::create_directory(outputs);
    if (!WriteFile(source, bytes)) {
        return Failed(7, "Out of memory");
    }
    const auto conversion =
        vellumax::ConvertIntoFolder(source.string(), outputs, format.format, quality);
    return {conversion.failure, Collect(conversion, StemOf(name), format), conversion.pages};
}

val Uint8ArrayOf(const std::vector<char>& data) {
    return val::global("Uint8Array")
        .new_(emscripten::typed_memory_view(data.size(),
                                            reinterpret_cast<const std::uint8_t*>(data.data())));
}

val ToJs(const Conversion& conversion) {
    val files = val::array();
    for (const OutputFile& file : conversion.files) {
        val entry = val::object();
        entry.set("name", file.name);
        entry.set("data", Uint8ArrayOf(file.data));
        files.call<void>("push", entry);
    }
    val result = val::object();
    result.set("failure", conversion.failure);
    result.set("files", files);
    result.set("pages", conversion.pages);
    return result;
}

// Nothing escapes to the page as an abort: a worker that aborted would take every later
// document with it.
val Convert(const std::string& name, const val& bytes, const std::string& formatName, int quality) {
    const auto format = FormatNamed(formatName);
    if (!format || quality < 1 || quality > 100) {
        const std::string asked = formatName + " at quality " + std::to_string(quality);
        return ToJs(Failed(5, "no such output: " + asked));
    }
    // The converter gives each document a log of its own; none of libtiff's messages may reach
    // the console.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    // Emscripten starts with a umask of 0777, under which the converter's published pages
    // could not be read back.
    umask(022);
    try {
        const auto input = emscripten::convertJSArrayToNumberVector<unsigned char>(bytes);
        return ToJs(ConvertBytes(name, input, *format, quality));
    } catch (const std::bad_alloc&) {
        return ToJs(Failed(7, "Out of memory"));
    } catch (const std::exception& error) {
        return ToJs(Failed(321, error.what()));
    } catch (...) {
        return ToJs(Failed(321, "unexpected error"));
    }
}

}  // namespace

EMSCRIPTEN_BINDINGS(vellumax) {
    emscripten::function("convert", &Convert);
    emscripten::function("closingMessage", &vellumax::ClosingMessage);
}
