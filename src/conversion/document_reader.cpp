#include "conversion/document_reader.h"

#include <tiffio.h>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "compressed_size.h"
#include "conversion/ptc/ptc_decoder.h"
#include "platform/file_descriptor.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

// The largest page this reader decodes. Beyond it a declared size is far more likely a damaged
// or hostile file than a scanned page.
constexpr std::uint64_t kMaxDecodedPageBytes = std::uint64_t{1} << 30;
// Decoded bytes in one written strip, so that no reader of the result needs a page in memory.
constexpr std::uint64_t kStripBytes = 256 * 1024;
// Pixels libtiff's RGBA reader renders at a time for the unusual pixel forms.
constexpr std::uint64_t kRenderBandPixels = 1024 * 1024;
// The imaging component's own codecs, which no libtiff decodes; colour pages come in the
// transform codec, which this reader decodes itself.
constexpr std::array<std::uint16_t, 2> kImagingCodecs = {34718, 34719};
constexpr std::uint16_t kTransformCodec = 34720;
// When libtiff cannot open a file it is the first directory that could not be read.
const char kFirstPageUnreadable[] = "the first page cannot be read";

ReaderFailure Failure(int number, const QString& text, const QString& detail) {
    return {number, detail.isEmpty() ? text : text + ": " + detail};
}
ReaderFailure FileNotFound() {
    return {53, "File not found"};
}
ReaderFailure AccessError(const QString& detail = {}) {
    return Failure(75, "Path/File access error", detail);
}
ReaderFailure InvalidFormat(const QString& detail = {}) {
    return Failure(321, "Invalid file format", detail);
}
ReaderFailure TooLarge(const QString& detail) {
    return Failure(7, "Out of memory", detail);
}

// The run-time wording of a system error, told after "Path/File access error".
QString SystemReason(int errorNumber, FileAccess access) {
    const QString reason = ErrorFromErrno(errorNumber, access).description();
    return reason == AccessError().description ? QString::fromLocal8Bit(std::strerror(errorNumber))
                                               : reason;
}

// Collects what libtiff says about one handle, so that nothing reaches the terminal and its
// words can become the failure's description. Some refusals (a directory chain that loops)
// come only as a warning, so the latest warning is kept for a failure without an error.
class LibtiffMessages {
public:
    // `name` is what libtiff calls the file; the failure line already names it.
    explicit LibtiffMessages(const QByteArray& name)
        : options_(TIFFOpenOptionsAlloc(), &TIFFOpenOptionsFree),
          namePrefix_(QString::fromLocal8Bit(name) + ": ") {
        if (options_) {
            TIFFOpenOptionsSetErrorHandlerExtR(options_.get(), &RecordError, this);
            TIFFOpenOptionsSetWarningHandlerExtR(options_.get(), &RecordWarning, this);
            TIFFOpenOptionsSetMaxSingleMemAlloc(options_.get(), kMaxDecodedPageBytes);
        }
    }
    LibtiffMessages(const LibtiffMessages&) = delete;
    LibtiffMessages& operator=(const LibtiffMessages&) = delete;

    TIFFOpenOptions* options() const { return options_.get(); }
    bool hasError() const { return !firstError_.isEmpty(); }
    // What went wrong: `what` (the step that failed, in our words) with libtiff's error, or
    // with its latest warning when it gave no error.
    QString Reason(const QString& what) const {
        const QString detail = hasError() ? firstError_ : lastWarning_;
        if (what.isEmpty() || detail.isEmpty()) {
            return what.isEmpty() ? detail : what;
        }
        return what + ": " + detail;
    }

private:
    // The module (a function or file name) is left out, and so is the file's name where a
    // message starts with it. Some messages run over two lines; a failure is listed on one.
    QString Format(const char* format, va_list arguments) const {
        std::array<char, 512> buffer{};
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        QString text = QString::fromLocal8Bit(buffer.data()).simplified();
        if (text.startsWith(namePrefix_)) {
            text.remove(0, namePrefix_.size());
        }
        return text;
    }
    // libtiff reports a tag it does not know how to read as an error, yet reads on without
    // it; such a tag is never why a page fails, so the real error that may follow is kept.
    static bool IsUnknownTag(const QString& text) {
        return text.contains("TIFF_SETGET_UNDEFINED") || text.startsWith("Unknown field with tag");
    }
    // Both return "handled", as libtiff's global handlers would print.
    static int RecordError(TIFF*, void* self, const char*, const char* format, va_list arguments) {
        auto& messages = *static_cast<LibtiffMessages*>(self);
        if (messages.firstError_.isEmpty()) {
            const QString text = messages.Format(format, arguments);
            if (!IsUnknownTag(text)) {
                messages.firstError_ = text;
            }
        }
        return 1;
    }
    static int RecordWarning(TIFF*, void* self, const char*, const char* format,
                             va_list arguments) {
        auto& messages = *static_cast<LibtiffMessages*>(self);
        const QString text = messages.Format(format, arguments);
        if (!IsUnknownTag(text)) {
            messages.lastWarning_ = text;
        }
        return 1;
    }

    std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options_;
    QString namePrefix_;
    QString firstError_;
    QString lastWarning_;
};

using TiffHandle = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

// One file as libtiff sees it through client procedures. A document-imaging file's header
// reads "II" in place of "EP", as the little-endian TIFF structure after it needs: libtiff
// knows "EP" only when it was built with its optional MDI support. The file itself is read
// with pread only and never written.
struct Stream {
    int descriptor = -1;
    std::uint64_t size = 0;  // of the source; the target's is asked of the system
    bool writable = false;
    bool imagingHeader = false;
    std::uint64_t position = 0;
    int systemError = 0;
};

tmsize_t ReadStream(thandle_t handle, void* buffer, tmsize_t size) {
    auto& stream = *static_cast<Stream*>(handle);
    auto* bytes = static_cast<char*>(buffer);
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t count =
            ::pread(stream.descriptor, bytes + done, static_cast<size_t>(size - done),
                    static_cast<off_t>(stream.position + done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            stream.systemError = errno;
            return -1;
        }
        if (count == 0) {
            break;
        }
        done += count;
    }
    for (std::uint64_t at = stream.position; stream.imagingHeader && at < 2; ++at) {
        if (at < stream.position + done) {
            bytes[at - stream.position] = 'I';
        }
    }
    stream.position += done;
    return done;
}

tmsize_t WriteStream(thandle_t handle, void* buffer, tmsize_t size) {
    auto& stream = *static_cast<Stream*>(handle);
    if (!stream.writable) {
        return -1;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    tmsize_t done = 0;
    while (done < size) {
        const ssize_t count =
            ::pwrite(stream.descriptor, bytes + done, static_cast<size_t>(size - done),
                     static_cast<off_t>(stream.position + done));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            stream.systemError = count < 0 ? errno : ENOSPC;
            return -1;
        }
        done += count;
    }
    stream.position += done;
    return done;
}

toff_t StreamSize(thandle_t handle) {
    const auto& stream = *static_cast<Stream*>(handle);
    struct stat status {};
    if (stream.writable && ::fstat(stream.descriptor, &status) == 0) {
        return static_cast<toff_t>(status.st_size);
    }
    return stream.size;
}

toff_t SeekStream(thandle_t handle, toff_t offset, int whence) {
    auto& stream = *static_cast<Stream*>(handle);
    // Offsets wrap as unsigned values do, which is how libtiff passes a step back.
    switch (whence) {
        case SEEK_SET:
            stream.position = offset;
            break;
        case SEEK_CUR:
            stream.position += offset;
            break;
        case SEEK_END:
            stream.position = StreamSize(handle) + offset;
            break;
        default:
            return static_cast<toff_t>(-1);
    }
    // No offset of a real file reaches this; a damaged one must not reach pread as negative.
    if (stream.position > static_cast<std::uint64_t>(INT64_MAX)) {
        return static_cast<toff_t>(-1);
    }
    return stream.position;
}

// The descriptor has its own owner.
int CloseStream(thandle_t) {
    return 0;
}
int MapNothing(thandle_t, void**, toff_t*) {
    return 0;
}
void UnmapNothing(thandle_t, void*, toff_t) {}

TIFF* OpenTiff(const QByteArray& name, const char* mode, Stream& stream,
               const LibtiffMessages& messages) {
    return TIFFClientOpenExt(name.constData(), mode, &stream, &ReadStream, &WriteStream,
                             &SeekStream, &CloseStream, &StreamSize, &MapNothing, &UnmapNothing,
                             messages.options());
}

struct SourceFile {
    FileDescriptor descriptor;
    std::uint64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
    bool imagingHeader = false;
};

enum class Header { Imaging, Tiff, Unknown };

Header HeaderKind(const char* bytes) {
    const QByteArray magic(bytes, 4);
    if (magic == QByteArray("EP*\0", 4)) {
        return Header::Imaging;
    }
    // Classic TIFF in both byte orders, and BigTIFF, which libtiff reads just as well.
    for (const char* tiff : {"II*\0", "MM\0*", "II+\0", "MM\0+"}) {
        if (magic == QByteArray(tiff, 4)) {
            return Header::Tiff;
        }
    }
    return Header::Unknown;
}

std::optional<ReaderFailure> OpenSource(const QString& path, SourceFile& source) {
    // Non-blocking, so that a named pipe cannot hold the open; only regular files go on.
    source.descriptor = FileDescriptor(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (source.descriptor.get() < 0) {
        return errno == ENOENT ? FileNotFound()
                               : AccessError(SystemReason(errno, FileAccess::Read));
    }
    struct stat status {};
    if (::fstat(source.descriptor.get(), &status) != 0) {
        return AccessError(SystemReason(errno, FileAccess::Read));
    }
    if (S_ISDIR(status.st_mode)) {
        return AccessError("the path names a folder");
    }
    if (!S_ISREG(status.st_mode)) {
        return AccessError("the path names no regular file");
    }
    source.size = static_cast<std::uint64_t>(status.st_size);
    source.device = status.st_dev;
    source.inode = status.st_ino;

    // A header and the first directory's offset: anything shorter is no document.
    std::array<char, 8> header{};
    const ssize_t count = ::pread(source.descriptor.get(), header.data(), header.size(), 0);
    if (count < 0) {
        return AccessError(SystemReason(errno, FileAccess::Read));
    }
    if (count == 0) {
        return InvalidFormat("the file is empty");
    }
    if (count < static_cast<ssize_t>(header.size())) {
        return InvalidFormat(
            QString("the file is %1 bytes long, too short for a document's header").arg(count));
    }
    const Header kind = HeaderKind(header.data());
    if (kind == Header::Unknown) {
        return InvalidFormat("the file does not start as a TIFF or document-imaging file does");
    }
    // A classic header whose first directory is at 0 points at no page at all.
    const bool bigTiff = header[2] == '+' || header[3] == '+';
    if (!bigTiff && header[4] == 0 && header[5] == 0 && header[6] == 0 && header[7] == 0) {
        return InvalidFormat("the document holds no page");
    }
    source.imagingHeader = kind == Header::Imaging;
    return std::nullopt;
}

// One libtiff reading of the source. Each has its own position and messages.
class SourceReading {
public:
    SourceReading(const SourceFile& file, const QByteArray& name)
        : stream_{file.descriptor.get(), file.size, false, file.imagingHeader},
          messages_(name),
          tiff_(OpenTiff(name, "r", stream_, messages_), &TIFFClose) {}

    TIFF* tiff() const { return tiff_.get(); }
    std::uint64_t fileSize() const { return stream_.size; }
    // `what` says which step failed; libtiff's words, when it has any, tell why.
    ReaderFailure Failure(const QString& what) const {
        if (stream_.systemError != 0) {
            return AccessError(SystemReason(stream_.systemError, FileAccess::Read));
        }
        return InvalidFormat(messages_.Reason(what));
    }

private:
    Stream stream_;
    LibtiffMessages messages_;
    TiffHandle tiff_;
};

// The written TIFF file, little-endian and classic, on a descriptor owned elsewhere.
class TargetWriting {
public:
    TargetWriting(int descriptor, const QByteArray& name)
        : stream_{descriptor, 0, true, false},
          messages_(name),
          tiff_(OpenTiff(name, "wl", stream_, messages_), &TIFFClose) {}

    TIFF* tiff() const { return tiff_.get(); }
    bool Finish() {
        tiff_.reset();  // writes whatever libtiff still holds
        return stream_.systemError == 0 && !messages_.hasError();
    }
    ReaderFailure Failure() const {
        if (stream_.systemError != 0) {
            return AccessError(SystemReason(stream_.systemError, FileAccess::Write));
        }
        return AccessError(messages_.Reason("the converted document cannot be written"));
    }

private:
    Stream stream_;
    LibtiffMessages messages_;
    TiffHandle tiff_;
};

// A temporary file in the target's folder, renamed onto the target once complete and removed
// otherwise, so that the target path never shows a partial document.
class PendingTarget {
public:
    PendingTarget() = default;
    PendingTarget(const PendingTarget&) = delete;
    PendingTarget& operator=(const PendingTarget&) = delete;
    ~PendingTarget() {
        if (!path_.isEmpty()) {
            ::unlink(path_.constData());
        }
    }

    int descriptor() const { return descriptor_.get(); }

    std::optional<ReaderFailure> Create(const QString& target) {
        QString folder = QFileInfo(target).path();
        if (folder.isEmpty()) {
            folder = ".";
        }
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QString name =
                QString(".vellumax-%1.tmp")
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
            const QByteArray path = QFile::encodeName(folder + "/" + name);
            const int descriptor =
                ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor >= 0) {
                descriptor_ = FileDescriptor(descriptor);
                path_ = path;
                return std::nullopt;
            }
            if (errno != EEXIST) {
                return AccessError(SystemReason(errno, FileAccess::Write));
            }
        }
        return AccessError(SystemReason(EEXIST, FileAccess::Write));
    }

    std::optional<ReaderFailure> Commit(const QString& target) {
        // Not flushed: the file lives for one conversion in the run's own folder, and a crash
        // takes the run with it.
        if (descriptor_.Close() != 0) {
            return AccessError(SystemReason(errno, FileAccess::Write));
        }
        if (::rename(path_.constData(), QFile::encodeName(target).constData()) != 0) {
            return AccessError(SystemReason(errno, FileAccess::Write));
        }
        path_.clear();
        return std::nullopt;
    }

private:
    FileDescriptor descriptor_;
    QByteArray path_;
};

// How a page's pixels are read and what they become.
enum class PageKind {
    Bilevel,  // 1-bit, kept as it is
    Grey,     // 2, 4, 8 or 16-bit grey, becomes 8-bit grey
    Palette,  // 1 to 8-bit indexes, become RGB
    Rgb,      // 8 or 16-bit RGB, interleaved (JPEG's YCbCr decoded to RGB by libtiff)
    Rendered  // everything else libtiff's RGBA reader knows, becomes RGB over white
};

struct PageLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    bool tiled = false;
    std::uint32_t tileWidth = 0;
    std::uint32_t blockRows = 0;  // of a strip or a tile, at most the page's height
    PageKind kind = PageKind::Rendered;

    std::uint16_t outputSamples() const {
        return kind == PageKind::Bilevel || kind == PageKind::Grey ? 1 : 3;
    }
    std::uint16_t outputBits() const { return kind == PageKind::Bilevel ? 1 : 8; }
    std::uint64_t outputRowBytes() const {
        return (std::uint64_t{width} * outputSamples() * outputBits() + 7) / 8;
    }
};

bool IsJpegYCbCr(const PageLayout& layout) {
    return layout.photometric == PHOTOMETRIC_YCBCR && layout.compression == COMPRESSION_JPEG;
}

bool HasOnlyPlainExtraSamples(TIFF* tiff) {
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds)) {
        return true;
    }
    return std::all_of(kinds, kinds + count,
                       [](std::uint16_t kind) { return kind == EXTRASAMPLE_UNSPECIFIED; });
}

// Tiles are copied into a band of rows, which needs every tile to start on a byte.
bool TilesStartOnBytes(const PageLayout& layout) {
    return std::uint64_t{layout.tileWidth} * layout.bitsPerSample * layout.samplesPerPixel % 8 == 0;
}

std::optional<PageKind> DirectKind(TIFF* tiff, const PageLayout& layout) {
    const std::uint16_t bits = layout.bitsPerSample;
    const bool interleaved = layout.samplesPerPixel == 1 || layout.planar == PLANARCONFIG_CONTIG;
    if (!interleaved || (layout.tiled && !TilesStartOnBytes(layout))) {
        return std::nullopt;
    }
    const bool grey = (layout.photometric == PHOTOMETRIC_MINISWHITE ||
                       layout.photometric == PHOTOMETRIC_MINISBLACK) &&
                      layout.samplesPerPixel == 1;
    if (grey && bits == 1) {
        return PageKind::Bilevel;
    }
    if (grey && (bits == 2 || bits == 4 || bits == 8 || bits == 16)) {
        return PageKind::Grey;
    }
    if (layout.photometric == PHOTOMETRIC_PALETTE && layout.samplesPerPixel == 1 &&
        (bits == 1 || bits == 2 || bits == 4 || bits == 8)) {
        return PageKind::Palette;
    }
    if (layout.photometric == PHOTOMETRIC_RGB && layout.samplesPerPixel >= 3 &&
        (bits == 8 || bits == 16) && HasOnlyPlainExtraSamples(tiff)) {
        return PageKind::Rgb;
    }
    if (IsJpegYCbCr(layout) && layout.samplesPerPixel == 3 && bits == 8) {
        return PageKind::Rgb;
    }
    return std::nullopt;
}

// Reads the current directory's layout; the failure names the page.
std::optional<ReaderFailure> ReadLayout(TIFF* tiff, int page, PageLayout& layout) {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.compression);
    const auto codec = std::find(kImagingCodecs.begin(), kImagingCodecs.end(), layout.compression);
    if (codec != kImagingCodecs.end()) {
        return InvalidFormat(QString("page %1 uses the imaging codec %2, which cannot be decoded")
                                 .arg(page)
                                 .arg(*codec));
    }
    const bool transformCoded = layout.compression == kTransformCodec;
    if (!transformCoded && !TIFFIsCODECConfigured(layout.compression)) {
        return InvalidFormat(QString("page %1 uses compression %2, which cannot be decoded")
                                 .arg(page)
                                 .arg(layout.compression));
    }
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
    if (layout.width == 0 || layout.height == 0 ||
        !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric)) {
        return InvalidFormat(QString("page %1 has no size or no colour form").arg(page));
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &layout.orientation);
    layout.tiled = TIFFIsTiled(tiff) != 0;
    if (layout.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.blockRows);
    } else {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &layout.blockRows);
    }
    if (layout.blockRows == 0 || (layout.tiled && layout.tileWidth == 0)) {
        return InvalidFormat(QString("page %1 is stored in blocks of no size").arg(page));
    }
    layout.blockRows = std::min(layout.blockRows, layout.height);

    if (transformCoded && (layout.tiled || DirectKind(tiff, layout) != PageKind::Rgb ||
                           layout.samplesPerPixel != 3 || layout.bitsPerSample != 8)) {
        return InvalidFormat(
            QString("page %1 uses the imaging codec %2 in a form that cannot be decoded")
                .arg(page)
                .arg(kTransformCodec));
    }
    if (const auto kind = DirectKind(tiff, layout)) {
        layout.kind = *kind;
        return std::nullopt;
    }
    std::array<char, 1024> reason{};
    if (!TIFFRGBAImageOK(tiff, reason.data())) {
        return InvalidFormat(
            QString("page %1 cannot be converted: %2").arg(page).arg(reason.data()));
    }
    layout.kind = PageKind::Rendered;
    return std::nullopt;
}

// Bytes needed for `height` rows of `bitsPerRow`, in floating point so nothing can wrap.
double Bytes(double bitsPerRow, double height) {
    return std::ceil(bitsPerRow / 8) * height;
}

// The most compressed bytes a strip or tile of the page can take whose pixels decode to
// `decoded` bytes in `rows` rows.
double MaxCompressedBytes(const PageLayout& layout, double decoded, double rows) {
    if (layout.compression != kTransformCodec) {
        return converter::MaxCompressedBytes(layout.compression, decoded, rows);
    }
    // The colour codec codes a frame padded to 32 pixels each way, 1.5 coefficients a pixel,
    // each under 12 bits of magnitude, in a Rice code that adapts to their size: at most about
    // 27 bits for one (flag, a run length of up to 10 bits, sign, a short unary part, up to 11
    // bits of remainder). 32 bits each is 6 bytes a pixel, twice its decoded size. The pages we
    // have take under a bit a pixel.
    const double padded =
        std::ceil(layout.width / 32.0) * 32 * std::ceil(layout.height / 32.0) * 32 * 3;
    return padded * 2 + converter::kCompressedOverhead;
}

// Rows of a band of libtiff's RGBA reader: whole strips or tile rows, about a megapixel.
std::uint32_t RenderBandRows(const PageLayout& layout) {
    const std::uint64_t blocks =
        std::max<std::uint64_t>(1, kRenderBandPixels / layout.width / layout.blockRows);
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(blocks * layout.blockRows, layout.height));
}

// "N KiB" below a MiB and "N MiB" above, rounded up.
QString SizeText(std::uint64_t bytes) {
    const bool small = bytes < (std::uint64_t{1} << 20);
    const std::uint64_t unit = small ? 1024 : std::uint64_t{1} << 20;
    return QString("%1 %2").arg((bytes + unit - 1) / unit).arg(small ? "KiB" : "MiB");
}

// Refuses what would need too much memory or disk or lies outside the file, before anything is
// read. The compressed data a page declares must fit the file and what its pixels can need;
// a sparse file can be of any length, so the file's alone bounds nothing.
std::optional<ReaderFailure> CheckLimits(TIFF* tiff, int page, const PageLayout& layout,
                                         std::uint64_t fileSize) {
    const double limit = static_cast<double>(kMaxDecodedPageBytes);
    const double stored =
        Bytes(static_cast<double>(layout.width) * layout.bitsPerSample * layout.samplesPerPixel,
              layout.height);
    const double written =
        Bytes(static_cast<double>(layout.width) * layout.outputSamples() * layout.outputBits(),
              layout.height);
    if (std::max(stored, written) > limit) {
        return TooLarge(QString("page %1 is %2 x %3 pixels, which needs more than 1 GiB decoded")
                            .arg(page)
                            .arg(layout.width)
                            .arg(layout.height));
    }
    const double decodedBlock = layout.tiled ? static_cast<double>(TIFFTileSize64(tiff))
                                             : static_cast<double>(TIFFStripSize64(tiff));
    // libtiff's RGBA reader renders whole strips or tile rows, four bytes a pixel.
    const double block =
        std::max(decodedBlock,
                 layout.kind == PageKind::Rendered ? 4.0 * layout.width * layout.blockRows : 0.0);
    if (block > limit) {
        return TooLarge(
            QString("page %1 is stored in blocks that need more than 1 GiB decoded").arg(page));
    }
    const double maxCompressed = MaxCompressedBytes(layout, decodedBlock, layout.blockRows);
    const char* const kind = layout.tiled ? "tile" : "strip";
    std::uint64_t compressed = 0;
    std::uint64_t largest = 0;
    // TIFFNumberOfStrips counts strips of the page's RowsPerStrip even on a tiled page. A place
    // missing from a list that libtiff dropped as too short reads as 0.
    const std::uint32_t blocks = layout.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    for (std::uint32_t index = 0; index < blocks; ++index) {
        const std::uint64_t offset = TIFFGetStrileOffset(tiff, index);
        const std::uint64_t count = TIFFGetStrileByteCount(tiff, index);
        if (count > fileSize || offset > fileSize - count) {
            return InvalidFormat(
                QString("page %1 is cut short: its image data reach past the end of the file")
                    .arg(page));
        }
        if (count == 0) {
            return InvalidFormat(QString("page %1 is damaged: its %2 %3 holds no data")
                                     .arg(page)
                                     .arg(kind)
                                     .arg(index + 1));
        }
        if (static_cast<double>(count) > maxCompressed) {
            return InvalidFormat(QString("page %1 is damaged: its %2 %3 declares %4 of compressed "
                                         "data, more than its pixels can need (%5)")
                                     .arg(page)
                                     .arg(kind)
                                     .arg(index + 1)
                                     .arg(SizeText(count))
                                     .arg(SizeText(static_cast<std::uint64_t>(maxCompressed))));
        }
        // A page's compressed data is held to the limit of its decoded size too: it is what
        // the page costs in memory and in the written file when its strips are copied.
        compressed += count;
        if (compressed > kMaxDecodedPageBytes) {
            return TooLarge(
                QString("page %1 declares more than 1 GiB of compressed data").arg(page));
        }
        largest = std::max(largest, count);
    }
    // What decoding holds at once: the largest strip or tile as read, the decoded block the
    // tile and RGBA readers keep, and their band of rows.
    const bool rendered = layout.kind == PageKind::Rendered;
    const double band = rendered ? 4.0 * layout.width * RenderBandRows(layout)
                        : layout.tiled
                            ? static_cast<double>(TIFFScanlineSize64(tiff)) * layout.blockRows
                            : 0.0;
    const double held =
        static_cast<double>(largest) + (rendered || layout.tiled ? decodedBlock : 0.0) + band;
    if (held > limit) {
        return TooLarge(
            QString("page %1 needs more than 1 GiB of memory at once to be decoded").arg(page));
    }
    return std::nullopt;
}

std::optional<ReaderFailure> CheckPage(TIFF* tiff, int page, std::uint64_t fileSize) {
    PageLayout layout;
    if (auto failure = ReadLayout(tiff, page, layout)) {
        return failure;
    }
    return CheckLimits(tiff, page, layout, fileSize);
}

bool IsReducedImage(TIFF* tiff) {
    std::uint32_t subfileType = 0;
    return TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfileType) &&
           (subfileType & FILETYPE_REDUCEDIMAGE) != 0;
}

// Calls `visit(tiff, page number)` for each page of the main directory chain, in order.
// Reduced-resolution images in the chain are no pages, and SubIFDs (thumbnails) are never
// entered.
template <typename Visit>
std::optional<ReaderFailure> ForEachPage(SourceReading& reading, Visit visit) {
    TIFF* const tiff = reading.tiff();
    std::set<std::uint64_t> seen;
    int page = 0;
    for (;;) {
        if (!seen.insert(TIFFCurrentDirOffset(tiff)).second) {
            return InvalidFormat("the page chain loops back to an earlier page");
        }
        if (!IsReducedImage(tiff)) {
            if (auto failure = visit(tiff, ++page)) {
                return failure;
            }
        }
        if (TIFFLastDirectory(tiff)) {
            break;
        }
        if (!TIFFReadDirectory(tiff)) {
            return reading.Failure(QString("the page chain breaks off after page %1").arg(page));
        }
    }
    if (page == 0) {
        return InvalidFormat("the document holds no page");
    }
    return std::nullopt;
}

// A sample of a stored row: 1, 2 and 4-bit samples are packed from the high bit on; 16-bit
// ones come in the machine's byte order from libtiff.
std::uint32_t StoredSample(const std::uint8_t* row, std::uint64_t index, std::uint16_t bits) {
    if (bits == 8) {
        return row[index];
    }
    if (bits == 16) {
        std::uint16_t value = 0;
        std::memcpy(&value, row + 2 * index, sizeof value);
        return value;
    }
    const std::uint64_t bit = index * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

std::uint8_t ToByte(std::uint32_t sample, std::uint16_t bits) {
    if (bits == 8) {
        return static_cast<std::uint8_t>(sample);
    }
    const std::uint32_t maximum = bits == 16 ? 65535 : (1u << bits) - 1;
    return static_cast<std::uint8_t>((sample * 255 + maximum / 2) / maximum);
}

using Rgb = std::array<std::uint8_t, 3>;

// The colour map as 8-bit colours. Some writers store 8-bit values in the 16-bit map; like
// libtiff's own reader, a map with no value above 255 is taken as such.
std::vector<Rgb> PaletteColours(TIFF* tiff, std::uint16_t bits) {
    std::vector<Rgb> colours(std::size_t{1} << bits);
    std::uint16_t* maps[3] = {};
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &maps[0], &maps[1], &maps[2])) {
        return colours;
    }
    bool eightBit = true;
    for (const std::uint16_t* map : maps) {
        eightBit = eightBit && std::all_of(map, map + colours.size(),
                                           [](std::uint16_t value) { return value < 256; });
    }
    for (std::size_t index = 0; index < colours.size(); ++index) {
        for (std::size_t channel = 0; channel < 3; ++channel) {
            const std::uint16_t value = maps[channel][index];
            colours[index][channel] =
                static_cast<std::uint8_t>(eightBit ? value : (value * 255u + 32767) / 65535);
        }
    }
    return colours;
}

// Hands out the stored rows of a page top to bottom: a scanline at a time from strips, which
// keeps memory to libtiff's strip buffer, or a band of one tile row from tiles.
class StoredRows {
public:
    StoredRows(TIFF* tiff, const PageLayout& layout)
        : tiff_(tiff),
          layout_(layout),
          rowBytes_(static_cast<std::size_t>(TIFFScanlineSize64(tiff))) {
        if (layout_.tiled) {
            tile_.resize(static_cast<std::size_t>(TIFFTileSize64(tiff)));
            band_.resize(rowBytes_ * layout_.blockRows);
        } else {
            band_.resize(rowBytes_);
        }
    }

    // The row, or nullptr when libtiff could not decode it. Rows are asked for in order.
    const std::uint8_t* Row(std::uint32_t row) {
        if (!layout_.tiled) {
            return TIFFReadScanline(tiff_, band_.data(), row, 0) < 0 ? nullptr : band_.data();
        }
        if (row % layout_.blockRows == 0 && !LoadTileRow(row)) {
            return nullptr;
        }
        return band_.data() + std::size_t{row % layout_.blockRows} * rowBytes_;
    }

private:
    bool LoadTileRow(std::uint32_t top) {
        const std::uint64_t bitsPerPixel =
            std::uint64_t{layout_.bitsPerSample} * layout_.samplesPerPixel;
        const std::size_t tileRowBytes = static_cast<std::size_t>(TIFFTileRowSize64(tiff_));
        const std::uint32_t rows = std::min(layout_.blockRows, layout_.height - top);
        for (std::uint32_t x = 0; x < layout_.width; x += layout_.tileWidth) {
            if (TIFFReadTile(tiff_, tile_.data(), x, top, 0, 0) < 0) {
                return false;
            }
            const std::size_t start = static_cast<std::size_t>(x * bitsPerPixel / 8);
            const std::size_t bytes = std::min(tileRowBytes, rowBytes_ - start);
            for (std::uint32_t row = 0; row < rows; ++row) {
                std::memcpy(band_.data() + row * rowBytes_ + start,
                            tile_.data() + row * tileRowBytes, bytes);
            }
        }
        return true;
    }

    TIFF* tiff_;
    PageLayout layout_;
    std::size_t rowBytes_;
    std::vector<std::uint8_t> tile_;
    std::vector<std::uint8_t> band_;
};

// Turns stored rows into written rows for the kinds read directly.
class RowConverter {
public:
    RowConverter(TIFF* tiff, const PageLayout& layout) : layout_(layout) {
        if (layout.kind == PageKind::Palette) {
            colours_ = PaletteColours(tiff, layout.bitsPerSample);
        }
    }

    void Convert(const std::uint8_t* stored, std::uint8_t* written) const {
        const std::uint16_t bits = layout_.bitsPerSample;
        const std::uint32_t width = layout_.width;
        switch (layout_.kind) {
            case PageKind::Bilevel:
                std::memcpy(written, stored, layout_.outputRowBytes());
                break;
            case PageKind::Grey: {
                const bool invert = layout_.photometric == PHOTOMETRIC_MINISWHITE;
                for (std::uint32_t x = 0; x < width; ++x) {
                    const std::uint8_t value = ToByte(StoredSample(stored, x, bits), bits);
                    written[x] = invert ? 255 - value : value;
                }
                break;
            }
            case PageKind::Palette:
                for (std::uint32_t x = 0; x < width; ++x) {
                    const Rgb& colour = colours_[StoredSample(stored, x, bits)];
                    std::memcpy(written + 3 * std::size_t{x}, colour.data(), 3);
                }
                break;
            case PageKind::Rgb: {
                // A JPEG page's samples come decoded to RGB, three to a pixel.
                const std::uint64_t samples = IsJpegYCbCr(layout_) ? 3 : layout_.samplesPerPixel;
                for (std::uint32_t x = 0; x < width; ++x) {
                    for (std::uint64_t channel = 0; channel < 3; ++channel) {
                        written[3 * std::size_t{x} + channel] =
                            ToByte(StoredSample(stored, x * samples + channel, bits), bits);
                    }
                }
                break;
            }
            case PageKind::Rendered:
                break;
        }
    }

private:
    PageLayout layout_;
    std::vector<Rgb> colours_;
};

// The unusual pixel forms through libtiff's RGBA reader, a band of rows at a time, as RGB over
// white paper. libtiff's RGBA pixels carry premultiplied alpha. The reader decodes every strip
// or tile a band touches, so bands hold whole ones: a page in one strip is decoded once, not
// once a band.
class RenderedRows {
public:
    RenderedRows(TIFF* tiff, const PageLayout& layout)
        : layout_(layout), bandRows_(RenderBandRows(layout)) {
        std::array<char, 1024> reason{};
        begun_ = TIFFRGBAImageBegin(&image_, tiff, 0, reason.data()) != 0;
        // Rows as stored: the orientation tag goes to the written page unchanged.
        image_.req_orientation = layout.orientation;
        pixels_.resize(std::size_t{layout.width} * bandRows_);
    }
    RenderedRows(const RenderedRows&) = delete;
    RenderedRows& operator=(const RenderedRows&) = delete;
    ~RenderedRows() {
        if (begun_) {
            TIFFRGBAImageEnd(&image_);
        }
    }

    bool Row(std::uint32_t row, std::uint8_t* written) {
        if (!begun_) {
            return false;
        }
        if (row % bandRows_ == 0) {
            image_.row_offset = static_cast<int>(row);
            image_.col_offset = 0;
            const std::uint32_t rows = std::min(bandRows_, layout_.height - row);
            if (!TIFFRGBAImageGet(&image_, pixels_.data(), layout_.width, rows)) {
                return false;
            }
        }
        const std::uint32_t* pixel = pixels_.data() + std::size_t{row % bandRows_} * layout_.width;
        for (std::uint32_t x = 0; x < layout_.width; ++x, ++pixel) {
            const std::uint32_t paper = 255 - TIFFGetA(*pixel);
            written[3 * std::size_t{x}] = static_cast<std::uint8_t>(TIFFGetR(*pixel) + paper);
            written[3 * std::size_t{x} + 1] = static_cast<std::uint8_t>(TIFFGetG(*pixel) + paper);
            written[3 * std::size_t{x} + 2] = static_cast<std::uint8_t>(TIFFGetB(*pixel) + paper);
        }
        return true;
    }

private:
    PageLayout layout_;
    std::uint32_t bandRows_;
    TIFFRGBAImage image_{};
    bool begun_ = false;
    std::vector<std::uint32_t> pixels_;
};

// Resolutions go over only when a rational can carry them; a wild value is dropped.
void CopyResolution(TIFF* in, TIFF* out) {
    for (const ttag_t tag : {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION}) {
        float value = 0;
        if (TIFFGetField(in, tag, &value) && std::isfinite(value) && value > 0 && value < 1e7f) {
            TIFFSetField(out, tag, static_cast<double>(value));
        }
    }
    std::uint16_t unit = 0;
    if (TIFFGetField(in, TIFFTAG_RESOLUTIONUNIT, &unit)) {
        TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, unit);
    }
}

bool WritePageTags(TIFF* in, TIFF* out, const PageLayout& layout, int page, int pageCount) {
    const bool bilevel = layout.kind == PageKind::Bilevel;
    const std::uint16_t photometric = bilevel                         ? layout.photometric
                                      : layout.kind == PageKind::Grey ? PHOTOMETRIC_MINISBLACK
                                                                      : PHOTOMETRIC_RGB;
    const auto rowsPerStrip = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(kStripBytes / layout.outputRowBytes(), 1, layout.height));
    const bool written = TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
                         TIFFSetField(out, TIFFTAG_IMAGEWIDTH, layout.width) &&
                         TIFFSetField(out, TIFFTAG_IMAGELENGTH, layout.height) &&
                         TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, layout.outputBits()) &&
                         TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, layout.outputSamples()) &&
                         TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                         TIFFSetField(out, TIFFTAG_PHOTOMETRIC, photometric) &&
                         TIFFSetField(out, TIFFTAG_COMPRESSION,
                                      bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_NONE) &&
                         TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
                         TIFFSetField(out, TIFFTAG_ORIENTATION, layout.orientation) &&
                         TIFFSetField(out, TIFFTAG_PAGENUMBER, page - 1, pageCount);
    CopyResolution(in, out);
    return written;
}

// Pages the page converter reads as they are stored: their compressed strips are copied byte
// for byte, which spares decoding and encoding them here and keeps them exactly as scanned.
constexpr std::array kCopiedCompressions = {
    COMPRESSION_NONE, COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3,     COMPRESSION_CCITTFAX4,
    COMPRESSION_LZW,  COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_DEFLATE};

bool CanCopyStrips(const PageLayout& layout) {
    // Bi-level pages are handed on in G4 and grey ones as black-is-zero, whatever they were.
    const bool plainKind =
        (layout.kind == PageKind::Bilevel && layout.compression == COMPRESSION_CCITTFAX4) ||
        (layout.kind == PageKind::Grey && layout.bitsPerSample == 8 &&
         layout.photometric == PHOTOMETRIC_MINISBLACK) ||
        (layout.kind == PageKind::Rgb && layout.bitsPerSample == 8 && layout.samplesPerPixel == 3);
    const bool copiedCompression = std::find(kCopiedCompressions.begin(), kCopiedCompressions.end(),
                                             layout.compression) != kCopiedCompressions.end();
    const std::uint64_t stripBytes = layout.outputRowBytes() * layout.blockRows;
    return plainKind && copiedCompression && !layout.tiled && stripBytes <= 4 * kStripBytes;
}

void CopyTag16(TIFF* in, TIFF* out, ttag_t tag) {
    std::uint16_t value = 0;
    if (TIFFGetField(in, tag, &value)) {
        TIFFSetField(out, tag, value);
    }
}

void CopyTag32(TIFF* in, TIFF* out, ttag_t tag) {
    std::uint32_t value = 0;
    if (TIFFGetField(in, tag, &value)) {
        TIFFSetField(out, tag, value);
    }
}

bool WriteCopiedPageTags(TIFF* in, TIFF* out, const PageLayout& layout, int page, int pageCount) {
    const bool written = TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
                         TIFFSetField(out, TIFFTAG_IMAGEWIDTH, layout.width) &&
                         TIFFSetField(out, TIFFTAG_IMAGELENGTH, layout.height) &&
                         TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample) &&
                         TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel) &&
                         TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                         TIFFSetField(out, TIFFTAG_PHOTOMETRIC, layout.photometric) &&
                         TIFFSetField(out, TIFFTAG_COMPRESSION, layout.compression) &&
                         TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, layout.blockRows) &&
                         TIFFSetField(out, TIFFTAG_ORIENTATION, layout.orientation) &&
                         TIFFSetField(out, TIFFTAG_PAGENUMBER, page - 1, pageCount);
    CopyTag16(in, out, TIFFTAG_FILLORDER);
    CopyTag16(in, out, TIFFTAG_PREDICTOR);
    CopyTag32(in, out, TIFFTAG_T4OPTIONS);
    CopyTag32(in, out, TIFFTAG_T6OPTIONS);
    CopyResolution(in, out);
    return written;
}

std::optional<ReaderFailure> CopyStrips(TIFF* in, const SourceReading& reading,
                                        TargetWriting& target, const PageLayout& layout, int page,
                                        int pageCount) {
    TIFF* const out = target.tiff();
    if (!WriteCopiedPageTags(in, out, layout, page, pageCount)) {
        return target.Failure();
    }
    std::vector<std::uint8_t> strip;
    const std::uint32_t strips = TIFFNumberOfStrips(in);
    for (std::uint32_t index = 0; index < strips; ++index) {
        // Each count was held against the file's length before anything was read.
        const auto size = static_cast<tmsize_t>(TIFFGetStrileByteCount(in, index));
        strip.resize(static_cast<std::size_t>(size));
        if (TIFFReadRawStrip(in, index, strip.data(), size) != size) {
            return reading.Failure(QString("page %1 cannot be decoded").arg(page));
        }
        if (TIFFWriteRawStrip(out, index, strip.data(), size) != size) {
            return target.Failure();
        }
    }
    if (!TIFFWriteDirectory(out)) {
        return target.Failure();
    }
    return std::nullopt;
}

// A colour page of the imaging component's transform codec, decoded a stripe at a time. A page
// with any record that does not decode exactly fails whole: a converted page must never hide
// misread parts.
std::optional<ReaderFailure> CopyTransformCodedPage(TIFF* in, const SourceReading& reading,
                                                    TargetWriting& target, const PageLayout& layout,
                                                    int page, int pageCount) {
    const auto broken = [page](const QString& why) {
        return InvalidFormat(QString("page %1 cannot be decoded: %2").arg(page).arg(why));
    };
    if (TIFFNumberOfStrips(in) != 1) {
        return broken("its colour stream is split into strips");
    }
    // The strip's length was held against the file's before anything was read.
    std::vector<std::uint8_t> stream(static_cast<std::size_t>(TIFFGetStrileByteCount(in, 0)));
    const auto size = static_cast<tmsize_t>(stream.size());
    if (TIFFReadRawStrip(in, 0, stream.data(), size) != size) {
        return reading.Failure(QString("page %1 cannot be decoded").arg(page));
    }
    std::string problem;
    const auto decoder = ptc::PageDecoder::Open(std::move(stream), problem);
    if (!decoder) {
        return broken(QString::fromStdString(problem));
    }
    if (decoder->frame().width != layout.width || decoder->frame().height != layout.height) {
        return broken("its colour stream is of another size than the page");
    }
    TIFF* const out = target.tiff();
    if (!WritePageTags(in, out, layout, page, pageCount)) {
        return target.Failure();
    }
    std::vector<std::uint8_t> written(static_cast<std::size_t>(layout.outputRowBytes()));
    for (std::uint32_t row = 0; row < layout.height; ++row) {
        if (decoder->ReadRow(written) && TIFFWriteScanline(out, written.data(), row, 0) >= 0) {
            continue;
        }
        if (!decoder->damagedRecords()) {
            return decoder->problem().empty() ? target.Failure()
                                              : broken(QString::fromStdString(decoder->problem()));
        }
        const ptc::RecordCount records = ptc::CountRecords(decoder->stream());
        return broken(QString("%1 of its %2 colour records are damaged")
                          .arg(records.damaged)
                          .arg(records.total));
    }
    if (!TIFFWriteDirectory(out)) {
        return target.Failure();
    }
    return std::nullopt;
}

std::optional<ReaderFailure> CopyPage(TIFF* in, const SourceReading& reading, TargetWriting& target,
                                      int page, int pageCount) {
    PageLayout layout;
    // Checked again, as the file may have changed since the survey.
    auto failure = ReadLayout(in, page, layout);
    if (!failure) {
        failure = CheckLimits(in, page, layout, reading.fileSize());
    }
    if (failure) {
        return failure;
    }
    if (CanCopyStrips(layout)) {
        return CopyStrips(in, reading, target, layout, page, pageCount);
    }
    if (layout.compression == kTransformCodec) {
        return CopyTransformCodedPage(in, reading, target, layout, page, pageCount);
    }
    if (IsJpegYCbCr(layout)) {
        TIFFSetField(in, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    TIFF* const out = target.tiff();
    if (!WritePageTags(in, out, layout, page, pageCount)) {
        return target.Failure();
    }
    std::vector<std::uint8_t> written(static_cast<std::size_t>(layout.outputRowBytes()));
    const bool rendered = layout.kind == PageKind::Rendered;
    std::optional<RenderedRows> renderedRows;
    std::optional<StoredRows> storedRows;
    if (rendered) {
        renderedRows.emplace(in, layout);
    } else {
        storedRows.emplace(in, layout);
    }
    const RowConverter converter(in, layout);
    const QString broken = QString("page %1 cannot be decoded").arg(page);

    for (std::uint32_t row = 0; row < layout.height; ++row) {
        if (rendered) {
            if (!renderedRows->Row(row, written.data())) {
                return reading.Failure(broken);
            }
        } else {
            const std::uint8_t* stored = storedRows->Row(row);
            if (stored == nullptr) {
                return reading.Failure(broken);
            }
            converter.Convert(stored, written.data());
        }
        // The encoder may change the buffer it is given, which is refilled for every row.
        if (TIFFWriteScanline(out, written.data(), row, 0) < 0) {
            return target.Failure();
        }
    }
    if (!TIFFWriteDirectory(out)) {
        return target.Failure();
    }
    return std::nullopt;
}

// Replacing the source by its own copy would lose the document when the copy is cut short,
// and the source is never to change.
std::optional<ReaderFailure> RefuseSourceAsTarget(const SourceFile& source, const QString& target) {
    struct stat status {};
    if (::stat(QFile::encodeName(target).constData(), &status) == 0 &&
        status.st_dev == source.device && status.st_ino == source.inode) {
        return AccessError("the target is the source document itself");
    }
    return std::nullopt;
}

}  // namespace

std::optional<ReaderFailure> SaveDocumentAsTiff(const QString& source, const QString& target) {
    SourceFile file;
    if (auto failure = OpenSource(source, file)) {
        return failure;
    }
    if (auto failure = RefuseSourceAsTarget(file, target)) {
        return failure;
    }
    const QByteArray sourceName = QFileInfo(source).fileName().toLocal8Bit();

    // Every page is checked before anything is decoded or written, so that a document with
    // a page this reader cannot take fails at once, whichever page it is.
    int pageCount = 0;
    {
        SourceReading survey(file, sourceName);
        if (survey.tiff() == nullptr) {
            return survey.Failure(kFirstPageUnreadable);
        }
        auto failure = ForEachPage(survey, [&](TIFF* tiff, int page) {
            pageCount = page;
            return CheckPage(tiff, page, survey.fileSize());
        });
        if (failure) {
            return failure;
        }
    }

    PendingTarget pending;
    if (auto failure = pending.Create(target)) {
        return failure;
    }
    SourceReading reading(file, sourceName);
    TargetWriting writing(pending.descriptor(), QFileInfo(target).fileName().toLocal8Bit());
    if (reading.tiff() == nullptr) {
        return reading.Failure(kFirstPageUnreadable);
    }
    if (writing.tiff() == nullptr) {
        return writing.Failure();
    }
    auto failure = ForEachPage(reading, [&](TIFF* tiff, int page) {
        return CopyPage(tiff, reading, writing, page, pageCount);
    });
    if (failure) {
        return failure;
    }
    if (!writing.Finish()) {
        return writing.Failure();
    }
    return pending.Commit(target);
}

}  // namespace vellumax
