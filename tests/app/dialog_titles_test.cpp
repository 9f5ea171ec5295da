// The titles of the real dialogs as the X server holds them for their windows. Qt may append the
// application's display name to a window title on its way to the server, which no test of the
// texts the window hands its dialogs can see.

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "app/qt_dialogs.h"
#include "app/window_application.h"
#include "filelist/list_adders.h"
#include "platform/product.h"

namespace vellumax {
namespace {

struct ServerTitles {
    QString netWmName;  // _NET_WM_NAME, UTF-8
    QString wmName;     // WM_NAME
    QString failure;    // why the titles could not be read, if they could not
};

// xprop prints a string property as NAME(TYPE) = "text", quotes and backslashes escaped.
QString PropertyText(const QString& output, const QString& property) {
    const QRegularExpression line("^" + QRegularExpression::escape(property) +
                                  R"re(\([^)]*\) = "(.*)"$)re",
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(output);
    if (!match.hasMatch()) {
        return "<" + property + " not set>";
    }
    QString text = match.captured(1);
    text.replace(R"(\")", R"(")");
    text.replace(R"(\\)", R"(\)");
    return text;
}

ServerTitles ReadServerTitles(WId window) {
    const QString xprop = QStandardPaths::findExecutable("xprop");
    if (xprop.isEmpty()) {
        return {{}, {}, "xprop (x11-utils) is not installed"};
    }
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C.UTF-8");  // the UTF-8 title as it is, not escaped
    process.setProcessEnvironment(environment);
    process.start(xprop, {"-id", QString::number(window), "_NET_WM_NAME", "WM_NAME"});
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        return {{}, {}, "xprop failed: " + QString::fromUtf8(process.readAllStandardError())};
    }
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    return {PropertyText(output, "_NET_WM_NAME"), PropertyText(output, "WM_NAME"), {}};
}

// Runs `show`, which opens a modal dialog; once the dialog's window is on the screen its titles
// are read from the server and the dialog is closed.
ServerTitles TitlesOfDialogShownBy(const std::function<void()>& show) {
    ServerTitles titles{{}, {}, "no modal dialog was shown"};
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) {
            return;
        }
        const bool exposed = dialog->windowHandle() != nullptr && dialog->windowHandle()->isExposed();
        if (!exposed && waited.elapsed() < 10000) {
            return;
        }
        poll.stop();
        titles = exposed ? ReadServerTitles(dialog->winId())
                         : ServerTitles{{}, {}, "the dialog's window never came on the screen "
                                                    "(a native dialog stands in for it?)"};
        if (auto* modal = qobject_cast<QDialog*>(dialog)) {
            modal->reject();
        } else {
            dialog->close();
        }
    });
    poll.start();
    show();
    return titles;
}

TEST(DialogTitlesTest, TheServerHoldsEachTitleExactlyAsGiven) {
    if (QGuiApplication::platformName() != "xcb") {
        GTEST_SKIP() << "no X server could be reached (DISPLAY=\"" << qgetenv("DISPLAY").constData()
                     << "\"): the titles are checked under X11 only; run under xvfb-run";
    }
    QtDialogs dialogs;
    const struct {
        const char* kind;
        QString title;
        std::function<void(const QString&)> show;
    } cases[] = {
        {"message", ApplicationTitle(),
         [&](const QString& title) {
             dialogs.ShowMessage("Done.", title, MessageButtons::Ok, MessageIcon::None);
         }},
        {"message", "Application Error",
         [&](const QString& title) {
             dialogs.ShowMessage("Error", title, MessageButtons::Ok, MessageIcon::Warning);
         }},
        {"input box", ApplicationTitle(),
         [&](const QString& title) { dialogs.InputBox("Enter file extension:", title, "mdi"); }},
        {"open files", kOpenFilesTitle,
         [&](const QString& title) { dialogs.OpenFiles(title, "MDI Files (*.mdi)"); }},
        {"pick folder", kPickFolderTitle,
         [&](const QString& title) { dialogs.PickFolder(title, QString()); }},
    };
    for (const auto& dialogCase : cases) {
        SCOPED_TRACE(std::string(dialogCase.kind) + ": " + dialogCase.title.toStdString());
        const ServerTitles shown = TitlesOfDialogShownBy([&] { dialogCase.show(dialogCase.title); });
        ASSERT_EQ(shown.failure.toStdString(), "");
        EXPECT_EQ(shown.netWmName.toStdString(), dialogCase.title.toStdString());
        EXPECT_EQ(shown.wmName.toStdString(), dialogCase.title.toStdString());
    }
}

}  // namespace
}  // namespace vellumax

int main(int argc, char* argv[]) {
    // An X server when there is one; without it the offscreen platform starts and the test skips.
    qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
    // Qt's own widget dialogs: a platform theme could hand the file dialogs to another toolkit,
    // whose windows are out of the test's reach.
    qunsetenv("QT_QPA_PLATFORMTHEME");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication application(argc, argv);
    vellumax::ConfigureWindowApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
