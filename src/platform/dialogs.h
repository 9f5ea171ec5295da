#pragma once

#include <QString>
#include <QStringList>

namespace vellumax {

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Warning };
enum class MessageAnswer { Ok, Yes, No };

// Every box, dialog and shell opening the program shows goes through here, so that the
// window's behaviour can be driven and checked without a screen. Texts keep their CR and
// CR LF; only an implementation that displays them turns those into line breaks.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual MessageAnswer ShowMessage(const QString& text, const QString& title,
                                      MessageButtons buttons, MessageIcon icon) = 0;
    // Returns the answer, or "" when the user cancels.
    virtual QString InputBox(const QString& prompt, const QString& title,
                             const QString& defaultAnswer) = 0;
    // Returns the chosen files' full paths in the dialog's order; empty on cancel.
    virtual QStringList OpenFiles(const QString& title, const QString& filter) = 0;
    // Returns the chosen folder without a trailing separator (except the root "/"),
    // or "" on cancel.
    virtual QString PickFolder(const QString& title, const QString& startFolder) = 0;
    // Opens a web address or a local folder with the desktop's handler; never waits.
    virtual void OpenTarget(const QString& target) = 0;
};

}  // namespace vellumax
