#include "app/qt_dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

#include "platform/path_helpers.h"

namespace vellumax {

QString DisplayText(const QString& text) {
    QString display = text;
    display.replace("\r\n", "\n");
    display.replace('\r', '\n');
    return display;
}

MessageAnswer QtDialogs::ShowMessage(const QString& text, const QString& title,
                                     MessageButtons buttons, MessageIcon icon) {
    const auto standardButtons = buttons == MessageButtons::YesNo
                                     ? QMessageBox::Yes | QMessageBox::No
                                     : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    title, DisplayText(text), standardButtons, owner_);
    box.setTextFormat(Qt::PlainText);  // a path may look like markup
    const int answer = box.exec();
    if (buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

QString QtDialogs::InputBox(const QString& prompt, const QString& title,
                            const QString& defaultAnswer) {
    QInputDialog dialog(owner_);
    dialog.setWindowTitle(title);
    dialog.setLabelText(DisplayText(prompt));
    dialog.setTextValue(defaultAnswer);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

QStringList QtDialogs::OpenFiles(const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileNames(owner_, title, QString(), filter);
}

QString QtDialogs::PickFolder(const QString& title, const QString& startFolder) {
    const QString start = IsFolder(startFolder) ? startFolder : QString();
    QString chosen =
        QFileDialog::getExistingDirectory(owner_, title, start, QFileDialog::ShowDirsOnly);
    while (chosen.size() > 1 && chosen.endsWith('/')) {
        chosen.chop(1);
    }
    return chosen;
}

void QtDialogs::OpenTarget(const QString& target) {
    const QUrl url = QUrl(target).scheme().size() > 1 ? QUrl(target) : QUrl::fromLocalFile(target);
    QDesktopServices::openUrl(url);
}

}  // namespace vellumax
