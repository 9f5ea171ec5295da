#include "conversion/failure_wording.h"

#include <algorithm>
#include <cctype>

#include "data_damage.h"
#include "platform/build_config.h"

namespace vellumax {

std::string FailureText(int number, const std::string& description) {
    return " (" + std::to_string(number) + " (" + description + ")) ";
}

std::string PageNumbersText(const std::vector<int>& pages) {
    std::string text = pages.size() == 1 ? "page " : "pages ";
    for (std::size_t index = 0; index < pages.size(); ++index) {
        text += (index == 0 ? "" : ", ") + std::to_string(pages[index]);
    }
    return text;
}

std::string ConverterTrouble(const ConverterOutcome& outcome, const std::vector<int>& missing,
                             int expected, bool anyPage, const std::string& output) {
    const bool clean = outcome.finished && outcome.exitStatus == 0;
    // Every page written, some kept with damage: the converter's line names them and why
    // ("page 2 kept with damage: Bad code word at line 7 of strip 0 (x 1184)").
    const bool damaged = outcome.finished && outcome.exitStatus == converter::kKeptWithDamageStatus;
    if (expected > 0 ? missing.empty() : anyPage && (clean || damaged)) {
        return damaged ? outcome.reason : std::string();
    }
    std::string description = "The page converter wrote no " + output;
    if (!missing.empty()) {
        description = "The page converter could not convert " + PageNumbersText(missing) + " of " +
                      std::to_string(expected);
    }
    std::string detail = outcome.reason;
    // "page 3: cannot decode ..." says nothing new after "could not convert page 3".
    if (const std::string named = PageNumbersText(missing) + ": ";
        missing.size() == 1 && detail.starts_with(named)) {
        detail.erase(0, named.size());
    }
    if (detail.empty() && !outcome.finished) {
        detail = "it did not finish";
    } else if (detail.empty() && outcome.exitStatus != 0) {
        detail = "exit status " + std::to_string(outcome.exitStatus);
    }
    return detail.empty() ? description : description + ": " + detail;
}

std::string ClosingMessage(const std::string& failures) {
    const bool blank = std::all_of(failures.begin(), failures.end(),
                                   [](unsigned char c) { return std::isspace(c) != 0; });
    if (blank) {
        return "Done.";
    }
    return "Done.\r\n\r\nError #2122:\r\nFollowing files: \r\n" + failures +
           "\r\ncould not be operated. They could be opened by another program. \r\n"
           "Please email screenshot of this message and some of files to " +
           build_config::kSupportEmail;
}

}  // namespace vellumax
