// The converter for the page, as a WebAssembly module: one document's bytes in, its pages'
// bytes out. The page converter works on files, so each call gives it a folder of its own in
// memory (MEMFS), removed before the call returns.
//
//   const m = await createVellumax();
//   m.convert(name, bytes, "jpeg" | "png" | "pdf", quality)
//       -> { failure: string, files: [{ name, data: Uint8Array }], pages: number }
//   m.closingMessage(failures) -> string

#include <emscripten/bind.h>
#include <emscripten/val.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "folder_page_files.h"
#include "page_converter.h"
#include "platform/build_config.h"

namespace {

namespace converter = vellumax::converter;
using emscripten::val;

struct Format {
    converter::OutputFormat format;
    std::string extension;
    bool perPage;
};

std::optional<Format> FormatNamed(const std::string& name) {
    if (name == "jpeg") {
        return Format{converter::OutputFormat::Jpeg, "jpg", true};
    }
    if (name == "png") {
        return Format{converter::OutputFormat::Png, "png", true};
    }
    if (name == "pdf") {
        return Format{converter::OutputFormat::Pdf, "pdf", false};
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

// The document's name without its folder and its last extension, as the program names its
// outputs; a leading dot starts no extension.
std::string StemOf(const std::string& name) {
    const std::string base = name.substr(name.find_last_of('/') + 1);
    const auto dot = base.find_last_of('.');
    return dot != std::string::npos && dot >= 1 ? base.substr(0, dot) : base;
}

// A failure as the closing report lists it after the document's name.
std::string FailureText(int number, const std::string& description) {
    return " (" + std::to_string(number) + " (" + description + ")) ";
}

Conversion Failed(int number, const std::string& description) {
    return {FailureText(number, description), {}, 0};
}

// What the converter's report makes of the document: "" when every page was written whole.
// Pages kept with damage are delivered and still listed, as the program does.
std::string ConverterFailure(const converter::ConversionReport& report) {
    if (report.Succeeded() && !report.Damaged()) {
        return {};
    }
    return FailureText(321, report.Summary());
}

// The window's closing report over the failures the page gathered, a "name failure" line each.
std::string ClosingMessage(const std::string& failures) {
    const bool blank = std::all_of(failures.begin(), failures.end(),
                                   [](unsigned char c) { return std::isspace(c) != 0; });
    if (blank) {
        return "Done.";
    }
    return "Done.\r\n\r\nError #2122:\r\nFollowing files: \r\n" + failures +
           "\r\ncould not be operated. They could be opened by another program. \r\n"
           "Please email screenshot of this message and some of files to " +
           vellumax::build_config::kSupportEmail;
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

// The converter's files in the work folder, in page order, under the names the user gets.
std::vector<OutputFile> CollectOutputs(const std::string& input, const std::string& stem,
                                       const Format& format, int pages) {
    std::vector<OutputFile> files;
    if (!format.perPage) {
        if (auto data = ReadFile(converter::OutputPath(input, "-all." + format.extension))) {
            files.push_back({stem + "." + format.extension, std::move(*data)});
        }
        return files;
    }
    const converter::FolderPageFiles pageFiles(input, format.extension);
    for (int number = 1; number <= pages; ++number) {
        if (auto data = ReadFile(pageFiles.PagePath(number))) {
            files.push_back(
                {stem + "_" + std::to_string(number) + "." + format.extension, std::move(*data)});
        }
    }
    return files;
}

Conversion ConvertBytes(const std::string& name, const std::vector<unsigned char>& bytes,
                        const Format& format, int quality) {
    const WorkFolder work;
    const std::string input = (work.path() / "in.tif").string();
    if (!WriteFile(input, bytes)) {
        return Failed(7, "Out of memory");
    }
    const auto report = converter::ConvertFile(input, quality, format.format);
    Conversion result;
    result.pages = report.pagesWritten + report.pagesFailed;
    result.failure = ConverterFailure(report);
    result.files = CollectOutputs(input, StemOf(name), format, result.pages);
    return result;
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
    emscripten::function("closingMessage", &ClosingMessage);
}
