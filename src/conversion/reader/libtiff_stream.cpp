#include "conversion/reader/libtiff_stream.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "conversion/reader/page_limits.h"
#include "data_damage.h"

namespace vellumax::reader {

namespace {

// Some messages run over two lines or pad their words; a failure is listed on one line, its
// words single-spaced.
std::string OnOneLine(const char* message) {
    std::string line;
    bool space = false;
    for (const char* at = message; *at != '\0'; ++at) {
        if (std::isspace(static_cast<unsigned char>(*at)) != 0) {
            space = !line.empty();
            continue;
        }
        if (space) {
            line += ' ';
            space = false;
        }
        line += *at;
    }
    return line;
}

}  // namespace

LibtiffMessages::LibtiffMessages(const std::string& name)
    : options_(TIFFOpenOptionsAlloc(), &TIFFOpenOptionsFree), namePrefix_(name + ": ") {
    if (options_) {
        TIFFOpenOptionsSetErrorHandlerExtR(options_.get(), &RecordError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options_.get(), &RecordWarning, this);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options_.get(), kMaxDecodedPageBytes);
    }
}

std::string LibtiffMessages::Reason(const std::string& what) const {
    const std::string& detail = hasError() ? firstError_ : lastWarning_;
    if (what.empty() || detail.empty()) {
        return what.empty() ? detail : what;
    }
    return what + ": " + detail;
}

std::string LibtiffMessages::Format(const char* format, va_list arguments) const {
    std::array<char, 512> buffer{};
    std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    std::string text = OnOneLine(buffer.data());
    if (text.starts_with(namePrefix_)) {
        text.erase(0, namePrefix_.size());
    }
    return text;
}

void LibtiffMessages::StartDecoding() {
    damage_.clear();
    decoding_ = true;
}

bool LibtiffMessages::IsUnknownTag(const std::string& text) {
    return text.find("TIFF_SETGET_UNDEFINED") != std::string::npos ||
           text.starts_with("Unknown field with tag");
}

int LibtiffMessages::RecordError(TIFF*, void* self, const char*, const char* format,
                                 va_list arguments) {
    auto& messages = *static_cast<LibtiffMessages*>(self);
    const std::string text = messages.Format(format, arguments);
    if (messages.firstError_.empty() && !IsUnknownTag(text)) {
        messages.firstError_ = text;
    }
    messages.NoteDamage(text, true);
    return 1;
}

int LibtiffMessages::RecordWarning(TIFF*, void* self, const char*, const char* format,
                                   va_list arguments) {
    auto& messages = *static_cast<LibtiffMessages*>(self);
    const std::string text = messages.Format(format, arguments);
    if (!IsUnknownTag(text)) {
        messages.lastWarning_ = text;
    }
    messages.NoteDamage(text, false);
    return 1;
}

void LibtiffMessages::NoteDamage(const std::string& text, bool error) {
    if (decoding_ && damage_.empty() && converter::IsDataDamage(text, error)) {
        damage_ = text;
    }
}

namespace {

tmsize_t ReadStream(thandle_t handle, void* buffer, tmsize_t size) {
    auto& stream = *static_cast<Stream*>(handle);
    auto* bytes = static_cast<char*>(buffer);
    tmsize_t done = 0;
    // Past the source's end there is nothing to read, however far: a damaged offset is answered
    // here, before it reaches a system (WebAssembly's among them) that refuses one that large.
    // The written file is read back only where it was written.
    const std::uint64_t end = stream.writable ? UINT64_MAX : stream.size;
    while (done < size && stream.position + done < end) {
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
    if (size < 0 || stream.position > stream.limit ||
        static_cast<std::uint64_t>(size) > stream.limit - stream.position) {
        stream.overLimit = true;
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
    stream.end = std::max(stream.end, stream.position);
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

}  // namespace

TIFF* OpenTiff(const std::string& name, const char* mode, Stream& stream,
               const LibtiffMessages& messages) {
    return TIFFClientOpenExt(name.c_str(), mode, &stream, &ReadStream, &WriteStream, &SeekStream,
                             &CloseStream, &StreamSize, &MapNothing, &UnmapNothing,
                             messages.options());
}

}  // namespace vellumax::reader
