#pragma once

// How a document's failure reads in the closing report, without Qt: the window, the command
// line and the browser build word every failure alike.

#include <string>
#include <vector>

namespace vellumax {

// A document's failure as the closing report lists it after the document's path:
// " (321 (Invalid file format: ...)) ".
std::string FailureText(int number, const std::string& description);

// "page 3" or "pages 2, 5".
std::string PageNumbersText(const std::vector<int>& pages);

// How the page converter ended on one document.
struct ConverterOutcome {
    bool finished = false;  // it ran to its end
    int exitStatus = 0;     // its exit status (see the converter's main)
    std::string reason;     // its last line of error output, if any
};

// Why the converter gave fewer pages than the document has, or "" when it gave them all; the
// outcome's reason without the converter's name and the file's, which the failure line names.
// `expected` is 0 when the document's page count is unknown; `output` names what it writes.
std::string ConverterTrouble(const ConverterOutcome& outcome, const std::vector<int>& missing,
                             int expected, bool anyPage, const std::string& output = "page image");

// What the window shows when a run ends: "Done.", and the failures (each document's path,
// its failure text and CR LF) when there are any.
std::string ClosingMessage(const std::string& failures);

}  // namespace vellumax
