#include "conversion/imaging_adapter.h"

#include "conversion/failure_wording.h"
#include "conversion/reader/document_reader.h"
#include "platform/path_helpers.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

class DocumentReader : public DocumentImaging {
public:
    std::optional<ImagingFailure> SaveAsTiff(const QString& source,
                                             const QString& target) override {
        if (const auto failure = SaveDocumentAsTiff(NativePath(source).toStdString(),
                                                    NativePath(target).toStdString())) {
            return ImagingFailure{failure->number, QString::fromStdString(failure->description)};
        }
        return std::nullopt;
    }
};

}  // namespace

ImagingFactory DocumentReaderFactory() {
    return [] { return std::make_unique<DocumentReader>(); };
}

QString FailureText(int number, const QString& description) {
    return QString::fromStdString(vellumax::FailureText(number, description.toStdString()));
}

bool IsImagingAvailable(const ImagingFactory& create) {
    try {
        return create() != nullptr;
    } catch (...) {
        return false;
    }
}

bool ModiCreate(const ImagingFactory& create, const QString& source, const QString& tiffPath,
                QString& errorText) {
    std::optional<ImagingFailure> failure;
    try {
        std::unique_ptr<DocumentImaging> document = create();
        if (!document) {
            throw RuntimeError(429, "ActiveX component can't create object");
        }
        failure = document->SaveAsTiff(source, tiffPath);
    } catch (const RuntimeError& error) {
        failure = ImagingFailure{error.number(), error.description()};
    } catch (const std::exception& error) {
        failure = ImagingFailure{440, QString::fromLocal8Bit(error.what())};
    }
    if (!failure) {
        return true;
    }
    errorText = FailureText(failure->number, failure->description);
    return false;
}

}  // namespace vellumax
