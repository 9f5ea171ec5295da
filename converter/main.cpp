// The page converter: "-xall -q N -out jpeg FILE" writes FILE's pages as JPEGs beside it.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <tiffio.h>

#include "page_converter.h"

int main(int argc, char* argv[]) {
    const std::string program =
        argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "nconvert";
    // Per-document handlers take libtiff's messages; these catch any that bypass them.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);

    const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    const auto commandLine = vellumax::converter::ParseCommandLine(arguments);
    if (!commandLine) {
        std::fprintf(stderr, "%s\n", vellumax::converter::UsageLine(program).c_str());
        return 2;
    }
    const auto report =
        vellumax::converter::ConvertFile(commandLine->inputPath, commandLine->quality);
    if (report.Succeeded()) {
        return 0;
    }
    std::fprintf(stderr, "%s: %s: %s\n", program.c_str(), commandLine->inputPath.c_str(),
                 report.Summary().c_str());
    return 1;
}
