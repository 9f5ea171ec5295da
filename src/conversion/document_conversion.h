#pragma once

// One document through the reader and the page converter in this process, without Qt: what a
// run's job does with two programs, for a build that can start none (the browser's).

#include <filesystem>
#include <string>
#include <vector>

#include "page_converter.h"

namespace vellumax {

// The converter reads the document from a short name of its own and writes its pages as
// "document-0001.jpg" beside it, so no page name in the work folder outgrows the final one.
inline constexpr char kIntermediateStem[] = "document";

struct FolderConversion {
    struct Output {
        int page = 0;  // from 1; 0 for the one file of the whole document
        std::filesystem::path file;
    };
    std::vector<Output> outputs;  // in page order
    int pages = 0;                // in the document, once the reader has read it
    // As the closing report lists it after the document's path (see FailureText), or "". A
    // document may have outputs and a failure: pages kept with damage, or some pages missing.
    std::string failure;
};

// Converts the document at `source` into `folder`, which must exist and be empty and must not
// hold the source, with the same failures as a run of the program.
FolderConversion ConvertIntoFolder(const std::string& source, const std::filesystem::path& folder,
                                   converter::OutputFormat format, int quality);

// How many pages the TIFF file holds; 0 when it cannot be read.
int PagesInTiff(const std::string& path);

}  // namespace vellumax
