#pragma once

#include <QString>
#include <functional>

#include "platform/dialogs.h"

namespace vellumax {

// Error locations, as the report names them.
QString FormLocation(const QString& handler);  // "Quirnel2021/08/31.Form1.<handler>"
QString FolderWalkLocation();  // "Brimwold2021/08/31.AddFolder.GetSubDirectories2016"

// The report's text: description, CR LF, "in <location> at line <n>", CR CR, and whom to tell.
QString ErrorReportText(const QString& description, const QString& location, int line);

// Runs a procedure's numbered statements under the standard error report: a statement that
// fails is reported in the "Application Error" box and the procedure goes on with the next
// one. The report never ends the procedure; only the procedure itself returns early.
class ErrorReport {
public:
    ErrorReport(Dialogs& dialogs, QString location);

    void Run(int line, const std::function<void()>& statement);

    // A condition that fails to evaluate counts as true: the procedure resumes with the
    // first statement of the branch the condition guards.
    bool Holds(int line, const std::function<bool()>& condition);

private:
    void Report(const QString& description, int line);

    Dialogs& dialogs_;
    QString location_;
};

}  // namespace vellumax
