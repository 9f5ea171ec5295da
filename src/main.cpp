#include <unistd.h>
#include <QApplication>
#include <QRandomGenerator>
#include <QTextStream>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "app/window_application.h"
#include "conversion/work_folder.h"
#include "filelist/start_paths.h"
#include "platform/path_helpers.h"

namespace {

// The arguments after the program's name, exactly as given: a name that is not UTF-8 is kept.
QStringList ArgumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int index = 1; index < argc; ++index) {
        arguments << vellumax::PathFromNative(argv[index]);
    }
    return arguments;
}

int RunCommandLine(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);  // no display needed
    QTextStream output(stdout);
    QTextStream errors(stderr);
    vellumax::InstallInterruptHandler();
    return vellumax::RunCommandLine(ArgumentsOf(argc, argv), output, errors,
                                    ::isatty(STDERR_FILENO) == 1);
}

int RunWindow(int argc, char* argv[]) {
    QApplication application(argc, argv);
    vellumax::ConfigureWindowApplication();

    vellumax::QtDialogs dialogs;
    vellumax::MainWindow window({dialogs, QCoreApplication::applicationDirPath(),
                                 [] { return QRandomGenerator::global()->generateDouble(); }});
    dialogs.SetOwner(&window);
    window.show();
    // QApplication has taken its own options out of argv.
    vellumax::AddStartPaths(window.fileList(), ArgumentsOf(argc, argv), dialogs);
    return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    // What killed runs left behind goes now; a window closed during a run leaves its folder too.
    vellumax::RemoveAbandonedWorkFolders();
    return vellumax::OpensWindow(ArgumentsOf(argc, argv)) ? RunWindow(argc, argv)
                                                          : RunCommandLine(argc, argv);
}
