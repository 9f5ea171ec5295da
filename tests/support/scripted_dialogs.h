#pragma once

#include <deque>
#include <vector>

#include "platform/dialogs.h"

namespace vellumax::testing {

enum class DialogKind { Message, Input, OpenFiles, PickFolder };

// One dialog the code under test asked for, as it asked for it.
struct DialogRequest {
    DialogKind kind;
    QString text;   // message text or input prompt
    QString title;  // title, or the file dialog's and folder picker's title
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    QString detail;  // input default, file filter or start folder
};

// Records every dialog and answers from a queue. A dialog nobody queued an answer for, or
// an answer of the wrong kind, fails the running test; so do answers left unused.
class ScriptedDialogs : public Dialogs {
public:
    ~ScriptedDialogs() override;

    void AnswerMessage(MessageAnswer answer);
    void AnswerInput(const QString& text);
    void AnswerFiles(const QStringList& paths);
    void AnswerFolder(const QString& folder);

    const std::vector<DialogRequest>& requests() const { return requests_; }
    std::vector<DialogRequest> messages() const;
    const QStringList& openedTargets() const { return openedTargets_; }

    MessageAnswer ShowMessage(const QString& text, const QString& title, MessageButtons buttons,
                              MessageIcon icon) override;
    QString InputBox(const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QStringList OpenFiles(const QString& title, const QString& filter) override;
    QString PickFolder(const QString& title, const QString& startFolder) override;
    void OpenTarget(const QString& target) override;

private:
    struct Answer {
        DialogKind kind;
        MessageAnswer message = MessageAnswer::Ok;
        QString text;
        QStringList paths;
    };
    // The next queued answer if it is of `kind`; fails the test otherwise.
    Answer Take(const DialogRequest& request);

    std::deque<Answer> answers_;
    std::vector<DialogRequest> requests_;
    QStringList openedTargets_;
};

}  // namespace vellumax::testing
