#include <unistd.h>
#include <QApplication>
#include <QRandomGenerator>
#include <QTextStream>
#include <cstring>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "conversion/work_folder.h"

namespace {

int RunCommandLine(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);  // no display needed
    QTextStream output(stdout);
    QTextStream errors(stderr);
    vellumax::InstallInterruptHandler();
    return vellumax::RunCommandLine(QCoreApplication::arguments().mid(1), output, errors,
                                    ::isatty(STDERR_FILENO) == 1);
}

int RunWindow(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("vellumax");
    QApplication::setStyle("Fusion");

    vellumax::QtDialogs dialogs;
    vellumax::MainWindow window({dialogs, QCoreApplication::applicationDirPath(),
                                 [] { return QRandomGenerator::global()->generateDouble(); }});
    dialogs.SetOwner(&window);
    window.show();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    // What killed runs left behind goes now; a window closed during a run leaves its folder too.
    vellumax::RemoveAbandonedWorkFolders();
    const bool options = argc > 1 && std::strncmp(argv[1], "--", 2) == 0;
    return options ? RunCommandLine(argc, argv) : RunWindow(argc, argv);
}
