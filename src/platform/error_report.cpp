#include "platform/error_report.h"

#include <new>
#include <optional>

#include "platform/build_config.h"
#include "platform/runtime_error.h"

namespace vellumax {

QString FormLocation(const QString& handler) {
    return "Quirnel2021/08/31.Form1." + handler;
}

QString FolderWalkLocation() {
    return "Brimwold2021/08/31.AddFolder.GetSubDirectories2016";
}

QString ErrorReportText(const QString& description, const QString& location, int line) {
    return description + "\r\n" + "in " + location + " " + "at line " + QString::number(line) +
           "\r\r" + "Please email screenshot of this message to " + build_config::kSupportEmail;
}

ErrorReport::ErrorReport(Dialogs& dialogs, QString location)
    : dialogs_(dialogs), location_(std::move(location)) {}

namespace {

// Runs `body`; returns the description of whatever it threw, if it threw.
template <typename Body>
std::optional<QString> DescriptionOfFailure(Body&& body) {
    try {
        body();
        return {};
    } catch (const RuntimeError& error) {
        return error.description();
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return "Application-defined or object-defined error";
    }
}

}  // namespace

void ErrorReport::Run(int line, const std::function<void()>& statement) {
    if (const auto failure = DescriptionOfFailure(statement)) {
        Report(*failure, line);
    }
}

bool ErrorReport::Holds(int line, const std::function<bool()>& condition) {
    bool result = true;
    if (const auto failure = DescriptionOfFailure([&] { result = condition(); })) {
        Report(*failure, line);
        return true;
    }
    return result;
}

void ErrorReport::Report(const QString& description, int line) {
    dialogs_.ShowMessage(ErrorReportText(description, location_, line), "Application Error",
                         MessageButtons::Ok, MessageIcon::Warning);
}

}  // namespace vellumax
