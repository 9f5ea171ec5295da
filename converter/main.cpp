// The page converter: "-xall -q N -out FORMAT FILE" writes FILE's pages as JPEG or PNG files
// beside it, or the whole of it as one TIFF or PDF file. Exit status 0 when every page was
// written, 3 when every page was written but some were kept with damage, 1 when a page or the
// whole file was not, 2 for a usage error; the last line of error output says why.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/prctl.h>
#include <tiffio.h>
#include <unistd.h>

#include "data_damage.h"
#include "page_converter.h"
#include "temporary_file.h"

namespace {

// Prepared before the alarm is set: the handler may only make async-signal-safe calls.
char watchdogLine[4096];
std::size_t watchdogLineLength = 0;

extern "C" void OnWatchdog(int) {
    vellumax::converter::RemovePendingPage();
    [[maybe_unused]] const ssize_t written =
        ::write(STDERR_FILENO, watchdogLine, watchdogLineLength);
    ::_exit(1);
}

// No input, however damaged, keeps the converter busy for longer than its size allows.
void StartWatchdog(const std::string& program, const std::string& path) {
    std::error_code status;
    const auto size = std::filesystem::file_size(path, status);
    const unsigned seconds = vellumax::converter::WatchdogSeconds(status ? 0 : size);
    const int length = std::snprintf(
        watchdogLine, sizeof watchdogLine,
        "%s: %s: stopped after %u seconds, the longest a file of this size may take\n",
        program.c_str(), path.c_str(), seconds);
    watchdogLineLength =
        std::min(static_cast<std::size_t>(std::max(length, 0)), sizeof watchdogLine - 1);
    watchdogLine[watchdogLineLength - 1] = '\n';  // also when a long path was cut off
    struct sigaction action {};
    action.sa_handler = &OnWatchdog;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    alarm(seconds);
}

// The converter never outlives the script that started it, which itself dies with the
// program: a killed run leaves nothing converting on. A parent gone already has handed us to
// init.
void DieWithParent() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) {
        ::_exit(1);
    }
}

}  // namespace

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
    DieWithParent();
    StartWatchdog(program, commandLine->inputPath);
    const auto report = vellumax::converter::ConvertFile(commandLine->inputPath,
                                                         commandLine->quality, commandLine->format);
    if (report.Succeeded() && !report.Damaged()) {
        return 0;
    }
    std::fprintf(stderr, "%s: %s: %s\n", program.c_str(), commandLine->inputPath.c_str(),
                 report.Summary().c_str());
    return report.Succeeded() ? vellumax::converter::kKeptWithDamageStatus : 1;
}
