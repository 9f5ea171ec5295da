#include "conversion/conversion_run.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>

#include "app/startup.h"
#include "conversion/helper_tools.h"
#include "filelist/file_list.h"
#include "platform/build_config.h"
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/folder_walk.h"
#include "platform/path_helpers.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

constexpr int kPointerDefault = 0;
constexpr int kPointerBusy = 11;
constexpr char kIdleText[] = "Progress Bar";
constexpr char kImagingMissing[] =
    "You must have 'Microsoft Office Document Imaging' installed.\r\n\r\n"
    "Please click the 'Help' button at the top of ths software.";

// A folder that already ends in "/" (the root, or a typed "/out/") is joined without another
// separator: a doubled one in front would make the path a network path.
QString Joined(const QString& folder, const QString& name) {
    if (folder.isEmpty() || folder.endsWith('/')) {
        return NormalizePath(folder + name);
    }
    return NormalizePath(folder + '/' + name);
}

// Moves when the output is on the same file system, which replaces the destination in one
// step; copies otherwise. Either way the page is at the destination whole or not at all.
void CopyReplacing(const QString& from, const QString& to) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) {
        return;
    }
    if (errno != EXDEV) {
        throw ErrorFromErrno(errno, FileAccess::Write);
    }
    QFile source(from);
    QSaveFile target(to);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly) ||
        target.write(source.readAll()) != source.size() || !target.commit()) {
        throw RuntimeError(75, "Path/File access error");
    }
}

// A document for which the converter reported trouble or wrote nothing is not passed off as
// converted: it gets a line in the closing report like a document that could not be read.
QString ConverterFailureText(const ConverterOutcome& outcome, int pages) {
    if (outcome.finished && outcome.exitStatus == 0 && pages > 0) {
        return {};
    }
    QString description = pages == 0 ? "The page converter wrote no page image"
                                     : "The page converter could not write every page";
    if (!outcome.finished) {
        description += ", it did not finish";
    } else if (outcome.exitStatus != 0) {
        description += ", exit status " + QString::number(outcome.exitStatus);
    }
    if (!outcome.reason.isEmpty()) {
        description += ": " + outcome.reason;
    }
    return FailureText(321, description);
}

QString ClosingFailureBlock(const QString& failures) {
    return "\r\n\r\nError #2122:\r\nFollowing files: \r\n" + failures +
           "\r\ncould not be operated. They could be opened by another program. \r\n"
           "Please email screenshot of this message and some of files to " +
           build_config::kSupportEmail;
}

}  // namespace

ConversionRun::ConversionRun(FileList& list, Dialogs& dialogs, ConversionView& view,
                             ImagingFactory imaging)
    : list_(list),
      dialogs_(dialogs),
      view_(view),
      imaging_(std::move(imaging)),
      report_(dialogs, FormLocation("PushButton2_Click")) {}

void ConversionRun::ShowMessage(const QString& text) {
    dialogs_.ShowMessage(text, ApplicationTitle(), MessageButtons::Ok, MessageIcon::None);
}

void ConversionRun::PushButton2_Click() {
    if (report_.Holds(100, [&] { return isConverting_; })) {
        return;
    }
    report_.Run(102, [&] { isConverting_ = true; });
    lastRun_ = RunSummary();
    if (!RefusesToStart()) {
        lastRun_.started = true;
        QString workFolder;
        report_.Run(110, [&] {
            view_.SetMousePointer(kPointerBusy);
            workFolder = CreateWorkFolder();
        });
        // Without its own folder the run has nowhere safe to work: it reports that and ends.
        const QString failures = workFolder.isEmpty() ? QString() : ConvertAll(workFolder);
        lastRun_.failures = failures;
        report_.Run(218, [&] { view_.SetMousePointer(kPointerDefault); });
        report_.Run(220, [&] { view_.SetProgressValue(0); });
        report_.Run(222, [&] { view_.SetProgressText(kIdleText); });
        QString closing = "Done.";
        if (report_.Holds(224, [&] { return !failures.trimmed().isEmpty(); })) {
            report_.Run(226, [&] { closing += ClosingFailureBlock(failures); });
        }
        report_.Run(228, [&] { ShowMessage(closing); });
    }
    report_.Run(244, [&] { isConverting_ = false; });
}

bool ConversionRun::RefusesToStart() {
    if (report_.Holds(104, [&] { return list_.Count() == 0; })) {
        report_.Run(242, [&] { ShowMessage("No files added."); });
        return true;
    }
    if (report_.Holds(
            106, [&] { return !IsFolder(view_.OutputFolder()) && !view_.SaveBesideSource(); })) {
        report_.Run(240,
                    [&] { ShowMessage("Folder does not exist. Please select another folder."); });
        return true;
    }
    if (report_.Holds(108, [&] { return !IsImagingAvailable(imaging_); })) {
        report_.Run(230, [&] { view_.SetMousePointer(kPointerDefault); });
        report_.Run(232, [&] { view_.SetProgressValue(0); });
        report_.Run(234, [&] { view_.SetProgressText(kIdleText); });
        report_.Run(236, [&] { view_.SetMousePointer(kPointerDefault); });
        report_.Run(238, [&] { ShowMessage(kImagingMissing); });
        return true;
    }
    return false;
}

QString ConversionRun::ConvertAll(const QString& workFolder) {
    ExtractEmbeddedTools(workFolder, report_);
    QString failures;
    int count = 0;
    report_.Run(130, [&] { count = list_.Count(); });
    lastRun_.listed = count;
    for (int position = 1; position <= count; ++position) {
        if (view_.StopRequested()) {
            lastRun_.stopped = true;
            break;
        }
        ConvertEntry(position, workFolder, failures);
        lastRun_.visited = position;
    }
    RemoveEmbeddedTools(workFolder, report_);
    return failures;
}

void ConversionRun::ConvertEntry(int position, const QString& workFolder, QString& failures) {
    report_.Run(132, [&] { YieldToEventLoop(); });
    report_.Run(134, [&] { view_.SetMousePointer(kPointerBusy); });
    QString source;
    report_.Run(136, [&] { source = list_.Text(position); });
    report_.Run(138, [&] { view_.SetProgressValue(position * 100.0 / list_.Count()); });
    report_.Run(140, [&] { view_.SetProgressText("Processing: " + FileNameOf(source)); });
    report_.Run(142, [&] { YieldToEventLoop(); });

    const QString documentName = StripExtension(FileNameOf(source));
    QString tiffPath;
    QString outputBase;
    report_.Run(144, [&] { tiffPath = Joined(workFolder, documentName + ".tif"); });
    report_.Run(146, [&] { outputBase = OutputBase(source, documentName); });

    QString errorText;
    bool saved = false;
    report_.Run(158, [&] { saved = ModiCreate(imaging_, source, tiffPath, errorText); });
    if (!saved) {
        report_.Run(160, [&] { failures += source + errorText + "\r\n"; });
    } else {
        ConverterOutcome outcome;
        report_.Run(162, [&] {
            outcome = RunConverterBatch(workFolder, tiffPath, view_.Quality(), report_);
        });
        int pages = 0;
        MovePages(workFolder, outputBase, pages);
        if (const QString trouble = ConverterFailureText(outcome, pages); !trouble.isEmpty()) {
            report_.Run(198, [&] { failures += source + trouble + "\r\n"; });
        }
    }
    report_.Run(202, [&] { DeleteFileQuietly(tiffPath); });
}

void ConversionRun::MovePages(const QString& workFolder, const QString& outputBase,
                              int& pageCount) {
    QStringList pages;
    report_.Run(186, [&] { pages = GetFolderFiles(workFolder, "*.jpg"); });
    int pageNumber = 1;
    for (const QString& page : pages) {
        const QString pagePath = Joined(workFolder, page);
        report_.Run(192, [&] {
            CopyReplacing(pagePath, outputBase + "_" + QString::number(pageNumber) + ".jpg");
        });
        report_.Run(194, [&] { DeleteFileQuietly(pagePath); });
        report_.Run(196, [&] { ++pageNumber; });
    }
    pageCount = pageNumber - 1;
}

QString ConversionRun::OutputBase(const QString& source, const QString& documentName) const {
    // With neither option selected the results go to the chosen folder, as with the first.
    if (view_.SaveBesideSource() && !view_.SaveToFolder()) {
        return Joined(FolderOf(source), documentName);
    }
    return Joined(view_.OutputFolder(), documentName);
}

}  // namespace vellumax
