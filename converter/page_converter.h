#pragma once

// The decode/encode core of the page converter: turns every page of a TIFF document into a
// JPEG or PNG file of its own, or the whole document into one TIFF or PDF file. No Qt here, so
// the program stays self-contained.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

typedef struct tiff TIFF;

namespace vellumax::converter {

// Refusal limit for one page's decoded raster and for any single buffer the conversion needs.
inline constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{1} << 30;

enum class OutputFormat { Jpeg, Png, Tiff, Pdf };

struct CommandLine {
    int quality = 0;
    OutputFormat format = OutputFormat::Jpeg;
    std::string inputPath;
};

// Accepts exactly "-xall -q N -out FORMAT FILE" (the arguments after the program name), with
// N a decimal number from 1 to 100 and FORMAT one of jpeg, png, tiff and pdf; anything else
// gives nothing.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& arguments);
std::string UsageLine(const std::string& programName);

// Remembers the first libtiff error since the last Clear(), and the last warning: libtiff
// refuses some things (a directory chain that loops back) with a warning alone. While a page's
// pixels are decoded it also keeps the first message that tells of damage to their data.
class TiffErrorLog {
public:
    explicit TiffErrorLog(std::string fileName = {}) : fileName_(std::move(fileName)) {}
    void Record(const std::string& message);
    void RecordWarning(const std::string& message);
    void Clear() {
        first_.clear();
        lastWarning_.clear();
        damage_.clear();
        decoding_ = false;
    }
    const std::string& first() const { return first_; }
    // The first error, else the last warning.
    const std::string& reason() const { return first_.empty() ? lastWarning_ : first_; }

    // The current page's directory is read and checked; what libtiff says from here on until
    // the next Clear() is about its pixels.
    void StartDecoding() {
        damage_.clear();
        decoding_ = true;
    }
    // Damage found elsewhere (by the document reader, which decoded the page before us).
    void NoteDamage(const std::string& reason);
    // The first message about damage to the page's data since StartDecoding(), or "".
    const std::string& damage() const { return damage_; }

private:
    std::string OneLine(const std::string& message) const;

    std::string fileName_;
    std::string first_;
    std::string lastWarning_;
    std::string damage_;
    bool decoding_ = false;
};

// An open TIFF document whose libtiff messages go to its own log, never to the terminal.
class TiffDocument {
public:
    // Nothing, with the reason in `error`, when the file cannot be opened as a TIFF.
    static std::optional<TiffDocument> Open(const std::string& path, std::string& error);

    // Adopts a handle opened elsewhere (a fuzz harness opening from memory, for example); its
    // errors reach `log` only if the opener routed them there.
    TiffDocument(TIFF* tiff, std::unique_ptr<TiffErrorLog> log);
    TiffDocument(TiffDocument&& other) noexcept;
    TiffDocument& operator=(TiffDocument&&) = delete;
    TiffDocument(const TiffDocument&) = delete;
    ~TiffDocument();

    TIFF* handle() const { return tiff_; }
    TiffErrorLog& log() const { return *log_; }
    std::uint64_t size() const;

private:
    TIFF* tiff_;
    std::unique_ptr<TiffErrorLog> log_;
};

// Opens a new TIFF for writing on `descriptor`, which it then owns, its libtiff messages going
// to `log`; nullptr (the descriptor still the caller's) when it cannot.
TIFF* OpenTiffForWriting(int descriptor, const std::string& name, TiffErrorLog& log);

// Where the encoded pages go.
class PageFiles {
public:
    virtual ~PageFiles() = default;
    // The stream for page `number` (from 1), or nullptr with the reason in `error`.
    virtual std::FILE* Open(int number, std::string& error) = 0;
    // Closes the page's stream and publishes it; the reason when that fails, else "".
    virtual std::string Keep(int number) = 0;
    // Closes the page's stream and throws its content away.
    virtual void Discard(int number) = 0;
};

struct ConversionReport {
    int pagesWritten = 0;
    int pagesFailed = 0;
    // The first failure, as "page 2: reason" or a reason for the whole document.
    std::string firstError;
    // Pages written although libtiff reported damage to their data while decoding them, and
    // its words for the first of them. They count as written.
    std::vector<int> damagedPages = {};
    std::string firstDamage = {};

    // Every page was written (some may be damaged).
    bool Succeeded() const { return firstError.empty(); }
    bool Damaged() const { return !damagedPages.empty(); }
    // One line for the terminal; empty when everything was written without damage. A failure
    // first ("page 3: reason (2 pages failed)"), then the damaged pages ("pages 2, 5 kept with
    // damage: reason"), joined by "; ".
    std::string Summary() const;
};

class PageReader;

// A whole document in one file: pages added in order, published by Finish. Whatever happens
// before that, nothing is left at the final name or anywhere else.
class DocumentFile {
public:
    virtual ~DocumentFile() = default;
    // The reason the file cannot be started, else "".
    virtual std::string Start() = 0;
    // Adds the current page of `document`; the reason it failed, or "" on success.
    virtual std::string AddPage(const TiffDocument& document) = 0;
    virtual std::string Finish() = 0;
};

// Encodes the page `reader` reads as a baseline JPEG into `out`; the reason it failed, or "".
std::string EncodeJpeg(PageReader& reader, int quality, std::FILE* out);

// Encodes the current page of `document` into `out`; the reason it failed, or "" on success.
std::string ConvertPage(const TiffDocument& document, int quality, std::FILE* out);
std::string ConvertPageToPng(const TiffDocument& document, std::FILE* out);

using PageEncoder = std::function<std::string(const TiffDocument&, std::FILE*)>;

// Converts every page of the main directory chain, from the current one on, into a file of its
// own. A failed page is discarded and the pages after it are still converted.
ConversionReport ConvertPages(const TiffDocument& document, const PageEncoder& encode,
                              PageFiles& files);

// Converts every page of the main directory chain, from the current one on, into `file`. The
// first failed page ends the conversion and `file` is left unpublished.
ConversionReport ConvertDocument(const TiffDocument& document, DocumentFile& file);

// Converts the file at `path` beside it: into "<stem>-0001.jpg", "<stem>-0002.jpg", ... (or
// ".png") a page each, or into "<stem>-all.tif" or "<stem>-all.pdf".
ConversionReport ConvertFile(const std::string& path, int quality,
                             OutputFormat format = OutputFormat::Jpeg);

// How long the program may take over a file of `fileSize` bytes before its watchdog stops it:
// a minute, and a second more for each KiB. The slowest real pages (a 1 GiB raster from a few
// KiB of G4) take about one second per KiB; a damaged file that points every page at the same
// data cannot get more.
unsigned WatchdogSeconds(std::uint64_t fileSize);

}  // namespace vellumax::converter
