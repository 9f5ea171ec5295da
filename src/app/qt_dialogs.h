#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/dialogs.h"

namespace vellumax {

// CR LF and lone CR, as the program's texts carry them, become line breaks for display.
QString DisplayText(const QString& text);

// The real dialogs, owned by the main window once it exists.
class QtDialogs : public Dialogs {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }

    MessageAnswer ShowMessage(const QString& text, const QString& title, MessageButtons buttons,
                              MessageIcon icon) override;
    QString InputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QStringList OpenFiles(const QString& title, const QString& filter) override;
    QString PickFolder(const QString& title, const QString& startFolder) override;
    void OpenTarget(const QString& target) override;

private:
    QPointer<QWidget> owner_;
};

}  // namespace vellumax
