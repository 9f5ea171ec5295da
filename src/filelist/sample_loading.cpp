#include "filelist/sample_loading.h"

#include "filelist/file_list.h"
#include "platform/dialogs.h"
#include "platform/error_report.h"
#include "platform/folder_walk.h"
#include "platform/path_helpers.h"
#include "platform/product.h"
#include "platform/sample_files.h"

namespace vellumax {

namespace {

constexpr char kOpenFolderQuestion[] =
    "Would you like this software to open the folder where these sample files are stored (so "
    "that you can view them before working with them)?";

void AddSamplesAndOffer(FileList& list, const QString& programFolder, Dialogs& dialogs) {
    const QString sampleFolder = SampleFolder(programFolder);
    for (const QString& name : GetFolderFiles(sampleFolder, "*.*")) {
        const QString path = sampleFolder + name;
        if (PathExists(path) && !IsListed(list, path)) {
            list.Append(path);
        }
    }
    const MessageAnswer answer = dialogs.ShowMessage(kOpenFolderQuestion, ApplicationTitle(),
                                                     MessageButtons::YesNo, MessageIcon::None);
    if (answer == MessageAnswer::Yes) {
        dialogs.OpenTarget(sampleFolder);
    }
}

}  // namespace

void LoadSampleFiles(FileList& list, const QString& programFolder, Dialogs& dialogs) {
    // A failure ends the load where it happened; what was added stays.
    ErrorReport(dialogs, FormLocation("PushButton7_Click")).Run(100, [&] {
        AddSamplesAndOffer(list, programFolder, dialogs);
    });
}

}  // namespace vellumax
