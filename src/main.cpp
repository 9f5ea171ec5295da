#include <QApplication>
#include <QRandomGenerator>

#include "app/main_window.h"
#include "app/qt_dialogs.h"

int main(int argc, char* argv[]) {
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
