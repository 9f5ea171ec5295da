#pragma once

#include <QString>
#include <atomic>
#include <chrono>

#include "conversion/failure_wording.h"

namespace vellumax {

class ErrorReport;

// Shell-quotes a text for /bin/sh: nothing inside it is ever expanded or executed.
QString ShellQuoted(const QString& text);

// Writes the embedded page converter into the work folder as "nconvert.exe".
void ExtractEmbeddedTools(const QString& workFolder, ErrorReport& report);

// Writes the marker and "nconvert.bat" into `workFolder`, runs the batch there with the
// converter in `toolFolder`, and waits for it, at most `limit`; it is killed as soon as
// `cancelled` is set. The converter writes `format` ("jpeg", "png", "tiff" or "pdf") beside the
// TIFF file.
ConverterOutcome RunConverterBatch(const QString& toolFolder, const QString& workFolder,
                                   const QString& tiffPath, int quality, const QString& format,
                                   ErrorReport& report, const std::atomic<bool>& cancelled,
                                   std::chrono::milliseconds limit = std::chrono::minutes(10));

// Removes the tool files and the batch files.
void RemoveEmbeddedTools(const QString& workFolder, ErrorReport& report);

inline constexpr char kMarkerName[] = "tiff_to_jpg_corvantis.tmp";
inline constexpr char kConverterName[] = "nconvert.exe";
inline constexpr char kBatchName[] = "nconvert.bat";

}  // namespace vellumax
