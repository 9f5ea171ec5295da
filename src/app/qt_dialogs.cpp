#include "app/qt_dialogs.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/path_helpers.h"

namespace vellumax {

QString DisplayText(const QString& text) {
    QString display = text;
    display.replace("\r\n", "\n");
    display.replace('\r', '\n');
    return display;
}

namespace {

// The part of the screen a box may take: what the desktop leaves free, less room for the frame.
QSize RoomOnScreen(const QWidget* owner) {
    const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
    return screen->availableGeometry().size() * 9 / 10;
}

// The same message with its text in a scrolling area: a long failure list would make a message
// box taller than the screen, with its buttons out of reach.
int ShowScrollingMessage(const QString& title, const QString& text, const QPixmap& icon,
                         QDialogButtonBox::StandardButtons standardButtons, QWidget* owner) {
    QDialog dialog(owner);
    dialog.setWindowTitle(title);
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* area = new QScrollArea;
    area->setWidget(label);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    auto* buttons = new QDialogButtonBox(standardButtons);
    int answer = QDialogButtonBox::Ok;
    QObject::connect(buttons, &QDialogButtonBox::clicked, &dialog, [&](QAbstractButton* button) {
        answer = buttons->standardButton(button);
        dialog.accept();
    });
    auto* layout = new QVBoxLayout(&dialog);
    auto* message = new QHBoxLayout;
    if (!icon.isNull()) {
        auto* picture = new QLabel;
        picture->setPixmap(icon);
        message->addWidget(picture, 0, Qt::AlignTop);
    }
    message->addWidget(area);
    layout->addLayout(message);
    layout->addWidget(buttons);
    const QSize room = RoomOnScreen(owner);
    const int textWidth = label->sizeHint().width() + area->verticalScrollBar()->sizeHint().width();
    dialog.resize(std::min(textWidth + 2 * layout->contentsMargins().left(), room.width()),
                  room.height());
    dialog.exec();
    return answer;
}

}  // namespace

MessageAnswer QtDialogs::ShowMessage(const QString& text, const QString& title,
                                     MessageButtons buttons, MessageIcon icon) {
    const auto standardButtons = buttons == MessageButtons::YesNo
                                     ? QMessageBox::Yes | QMessageBox::No
                                     : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    title, DisplayText(text), standardButtons, owner_);
    box.setTextFormat(Qt::PlainText);  // a path may look like markup
    const bool fits = box.sizeHint().height() <= RoomOnScreen(owner_).height();
    // Both sets of buttons share their values.
    const int answer =
        fits ? box.exec()
             : ShowScrollingMessage(title, DisplayText(text), box.iconPixmap(),
                                    QDialogButtonBox::StandardButtons(standardButtons.toInt()),
                                    owner_);
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
