#pragma once

#include <QString>
#include <optional>

namespace vellumax {

// What the run writes for a document: JPEG pages (the window's only format), PNG pages, or one
// multi-page TIFF or PDF file.
struct OutputFormat {
    const char* name;       // as the command line and the page converter call it
    const char* extension;  // of the files written
    bool perPage;           // a file per page, "<name>_<n>.<ext>"; else one, "<name>.<ext>"
    bool usesQuality;
};

inline constexpr OutputFormat kJpegFormat{"jpeg", "jpg", true, true};
inline constexpr OutputFormat kOutputFormats[] = {
    kJpegFormat,
    {"png", "png", true, false},
    {"tiff", "tif", false, false},
    {"pdf", "pdf", false, true},
};

std::optional<OutputFormat> OutputFormatNamed(const QString& name);

}  // namespace vellumax
