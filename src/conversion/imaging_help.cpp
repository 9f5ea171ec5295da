#include "conversion/imaging_help.h"

#include "platform/build_config.h"
#include "platform/dialogs.h"
#include "platform/error_report.h"
#include "platform/product.h"

namespace vellumax {

namespace {
constexpr char kHelpText[] =
    "You must have Microsoft Office Digital Imaging (MODI) installed to use this software.\r\r"
    "MODI usually comes with MS Office but you can get MODI by downloading MS SharePoint 2007 "
    "which is free.\r\r"
    "Better instructions are available online. Would you like to see them now? ";
}  // namespace

void ShowImagingHelp(Dialogs& dialogs) {
    ErrorReport report(dialogs, FormLocation("PushButton3_Click"));
    MessageAnswer answer = MessageAnswer::No;
    report.Run(100, [&] {
        answer = dialogs.ShowMessage(kHelpText, ApplicationTitle(), MessageButtons::YesNo,
                                     MessageIcon::None);
    });
    if (answer != MessageAnswer::Yes) {
        return;
    }
    report.Run(102, [&] {
        dialogs.OpenTarget(QString("http://") + build_config::kImagingSupportHost + "/kb/982760/");
    });
}

}  // namespace vellumax
