#pragma once

#include <tiffio.h>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

namespace vellumax::reader {

// Collects what libtiff says about one handle, so that nothing reaches the terminal and its
// words can become the failure's description. Some refusals (a directory chain that loops)
// come only as a warning, so the latest warning is kept for a failure without an error.
class LibtiffMessages {
public:
    // `name` is what libtiff calls the file; the failure line already names it.
    explicit LibtiffMessages(const std::string& name);
    LibtiffMessages(const LibtiffMessages&) = delete;
    LibtiffMessages& operator=(const LibtiffMessages&) = delete;

    TIFFOpenOptions* options() const { return options_.get(); }
    bool hasError() const { return !firstError_.empty(); }
    // What went wrong: `what` (the step that failed, in our words) with libtiff's error, or
    // with its latest warning when it gave no error.
    std::string Reason(const std::string& what) const;
    // A page's pixels are decoded from here on: what libtiff says of their data now, until
    // the next call, is damage (see converter::IsDataDamage).
    void StartDecoding();
    // The first message about damage to the page's data since StartDecoding(), or "".
    const std::string& damage() const { return damage_; }

private:
    // The module (a function or file name) is left out, and so is the file's name where a
    // message starts with it. Some messages run over two lines; a failure is listed on one.
    std::string Format(const char* format, va_list arguments) const;
    // libtiff reports a tag it does not know how to read as an error, yet reads on without
    // it; such a tag is never why a page fails, so the real error that may follow is kept.
    static bool IsUnknownTag(const std::string& text);
    void NoteDamage(const std::string& text, bool error);
    // Both return "handled", as libtiff's global handlers would print.
    static int RecordError(TIFF*, void* self, const char*, const char* format, va_list arguments);
    static int RecordWarning(TIFF*, void* self, const char*, const char* format, va_list arguments);

    std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options_;
    std::string namePrefix_;
    std::string firstError_;
    std::string lastWarning_;
    std::string damage_;
    bool decoding_ = false;
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
    // A written file is never let past `limit` bytes: a write that would take it there fails,
    // and `overLimit` tells why.
    std::uint64_t limit = UINT64_MAX;
    bool overLimit = false;
    std::uint64_t end = 0;  // of what was written
};

// A libtiff handle on the stream; what libtiff says about it goes to `messages`.
TIFF* OpenTiff(const std::string& name, const char* mode, Stream& stream,
               const LibtiffMessages& messages);

}  // namespace vellumax::reader
