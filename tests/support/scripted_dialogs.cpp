#include "scripted_dialogs.h"

#include <gtest/gtest.h>

namespace vellumax::testing {

ScriptedDialogs::~ScriptedDialogs() {
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " queued dialog answer(s) never used";
}

void ScriptedDialogs::AnswerMessage(MessageAnswer answer) {
    answers_.push_back({DialogKind::Message, answer, {}, {}});
}

void ScriptedDialogs::AnswerInput(const QString& text) {
    answers_.push_back({DialogKind::Input, MessageAnswer::Ok, text, {}});
}

void ScriptedDialogs::AnswerFiles(const QStringList& paths) {
    answers_.push_back({DialogKind::OpenFiles, MessageAnswer::Ok, {}, paths});
}

void ScriptedDialogs::AnswerFolder(const QString& folder) {
    answers_.push_back({DialogKind::PickFolder, MessageAnswer::Ok, folder, {}});
}

std::vector<DialogRequest> ScriptedDialogs::messages() const {
    std::vector<DialogRequest> result;
    for (const DialogRequest& request : requests_) {
        if (request.kind == DialogKind::Message) {
            result.push_back(request);
        }
    }
    return result;
}

ScriptedDialogs::Answer ScriptedDialogs::Take(const DialogRequest& request) {
    requests_.push_back(request);
    if (answers_.empty() || answers_.front().kind != request.kind) {
        ADD_FAILURE() << "unexpected dialog \"" << request.title.toStdString()
                      << "\": " << request.text.toStdString();
        return {request.kind, MessageAnswer::No, {}, {}};
    }
    Answer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

MessageAnswer ScriptedDialogs::ShowMessage(const QString& text, const QString& title,
                                           MessageButtons buttons, MessageIcon icon) {
    const Answer answer = Take({DialogKind::Message, text, title, buttons, icon, {}});
    if (buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    return answer.message == MessageAnswer::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

QString ScriptedDialogs::InputBox(const QString& prompt, const QString& title,
                                  const QString& defaultAnswer) {
    return Take({DialogKind::Input, prompt, title, MessageButtons::Ok, MessageIcon::None,
                 defaultAnswer})
        .text;
}

QStringList ScriptedDialogs::OpenFiles(const QString& title, const QString& filter) {
    return Take({DialogKind::OpenFiles, {}, title, MessageButtons::Ok, MessageIcon::None, filter})
        .paths;
}

QString ScriptedDialogs::PickFolder(const QString& title, const QString& startFolder) {
    return Take({DialogKind::PickFolder,
                 {},
                 title,
                 MessageButtons::Ok,
                 MessageIcon::None,
                 startFolder})
        .text;
}

void ScriptedDialogs::OpenTarget(const QString& target) {
    openedTargets_.append(target);
}

}  // namespace vellumax::testing
