#include "conversion/document_conversion.h"

#include <tiffio.h>
#include <new>

#include "conversion/failure_wording.h"
#include "conversion/reader/document_reader.h"
#include "data_damage.h"
#include "folder_page_files.h"

namespace vellumax {

namespace {

// The converter's exit status for its report (see its main).
ConverterOutcome OutcomeOf(const converter::ConversionReport& report) {
    const int status = !report.Succeeded() ? 1
                       : report.Damaged()  ? converter::kKeptWithDamageStatus
                                           : 0;
    return {true, status, report.Summary()};
}

void CollectPages(const std::string& tiff, const std::string& extension,
                  FolderConversion& conversion, std::vector<int>& missing) {
    const converter::FolderPageFiles files(tiff, extension);
    for (int page = 1; page <= conversion.pages; ++page) {
        if (std::filesystem::exists(files.PagePath(page))) {
            conversion.outputs.push_back({page, files.PagePath(page)});
        } else {
            missing.push_back(page);
        }
    }
}

std::string ConvertPages(const std::string& tiff, converter::OutputFormat format, int quality,
                         FolderConversion& conversion) {
    const ConverterOutcome outcome = OutcomeOf(converter::ConvertFile(tiff, quality, format));
    std::vector<int> missing;
    CollectPages(tiff, format == converter::OutputFormat::Png ? "png" : "jpg", conversion, missing);
    const std::string trouble =
        ConverterTrouble(outcome, missing, conversion.pages, !conversion.outputs.empty());
    return trouble.empty() ? std::string() : FailureText(321, trouble);
}

std::string ConvertDocument(const std::string& tiff, converter::OutputFormat format, int quality,
                            FolderConversion& conversion) {
    const ConverterOutcome outcome = OutcomeOf(converter::ConvertFile(tiff, quality, format));
    const std::filesystem::path file = converter::OutputPath(
        tiff, format == converter::OutputFormat::Pdf ? "-all.pdf" : "-all.tif");
    const bool damaged = outcome.exitStatus == converter::kKeptWithDamageStatus;
    if ((outcome.exitStatus != 0 && !damaged) || !std::filesystem::exists(file)) {
        return FailureText(321, ConverterTrouble(outcome, {}, 0, false, "document"));
    }
    conversion.outputs.push_back({0, file});
    return damaged ? FailureText(321, ConverterTrouble(outcome, {}, 0, true, "document"))
                   : std::string();
}

}  // namespace

FolderConversion ConvertIntoFolder(const std::string& source, const std::filesystem::path& folder,
                                   converter::OutputFormat format, int quality) {
    FolderConversion conversion;
    const std::string tiff = (folder / (std::string(kIntermediateStem) + ".tif")).string();
    try {
        if (const auto failure = SaveDocumentAsTiff(source, tiff)) {
            conversion.failure = FailureText(failure->number, failure->description);
            return conversion;
        }
        conversion.pages = PagesInTiff(tiff);
        const bool perPage =
            format == converter::OutputFormat::Jpeg || format == converter::OutputFormat::Png;
        conversion.failure = perPage ? ConvertPages(tiff, format, quality, conversion)
                                     : ConvertDocument(tiff, format, quality, conversion);
    } catch (const std::bad_alloc&) {
        conversion.outputs.clear();
        conversion.failure = FailureText(7, "Out of memory");
    }
    std::filesystem::remove(tiff);
    return conversion;
}

int PagesInTiff(const std::string& path) {
    std::string error;
    const auto document = converter::TiffDocument::Open(path, error);
    return document ? TIFFNumberOfDirectories(document->handle()) : 0;
}

}  // namespace vellumax
