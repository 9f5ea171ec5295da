#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace vellumax {

// Why a document could not be saved: a run-time style number and a description.
struct ImagingFailure {
    int number;
    QString description;
};

// One document object: opens a source document and saves all its pages as one TIFF file.
class DocumentImaging {
public:
    virtual ~DocumentImaging() = default;
    virtual std::optional<ImagingFailure> SaveAsTiff(const QString& source,
                                                     const QString& target) = 0;
};

// Creates a document object for one call; throws RuntimeError when none can be created.
using ImagingFactory = std::function<std::unique_ptr<DocumentImaging>()>;

// Our own reader of document-imaging files and TIFF documents.
ImagingFactory DocumentReaderFactory();

bool IsImagingAvailable(const ImagingFactory& create);

// Saves the source as a TIFF at `tiffPath`. On failure returns false and sets `errorText` to
// " (<number> (<description>)) "; on success leaves it as it was.
bool ModiCreate(const ImagingFactory& create, const QString& source, const QString& tiffPath,
                QString& errorText);

QString FailureText(int number, const QString& description);

}  // namespace vellumax
