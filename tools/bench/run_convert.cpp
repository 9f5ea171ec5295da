// The program's run with a chosen number of workers, for the bench to set one document at a
// time beside the program's own choice (one worker per core). Prints the seconds taken and the
// longest time the event loop waited for its turn during the run.
//   run_convert WORKERS FORMAT QUALITY OUTPUT DOCUMENT...

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "conversion/conversion_run.h"
#include "filelist/file_list.h"
#include "platform/dialogs.h"

namespace {

using namespace vellumax;

class SilentDialogs : public Dialogs {
public:
    MessageAnswer ShowMessage(const QString& text, const QString&, MessageButtons,
                              MessageIcon) override {
        failed = failed || text != "Done.";
        return MessageAnswer::Ok;
    }
    QString InputBox(const QString&, const QString&, const QString&) override { return {}; }
    QStringList OpenFiles(const QString&, const QString&) override { return {}; }
    QString PickFolder(const QString&, const QString&) override { return {}; }
    void OpenTarget(const QString&) override {}

    bool failed = false;
};

class FixedView : public ConversionView {
public:
    FixedView(QString output, int quality, OutputFormat format)
        : output_(std::move(output)), quality_(quality), format_(format) {}

    void SetMousePointer(int) override {}
    void SetProgressValue(double) override {}
    void SetProgressText(const QString&) override {}
    QString OutputFolder() const override { return output_; }
    bool SaveToFolder() const override { return true; }
    bool SaveBesideSource() const override { return false; }
    int Quality() const override { return quality_; }
    OutputFormat Format() const override { return format_; }

private:
    QString output_;
    int quality_;
    OutputFormat format_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const std::optional<OutputFormat> format =
        arguments.size() >= 6 ? OutputFormatNamed(arguments[2]) : std::nullopt;
    if (!format) {
        std::fprintf(stderr, "usage: run_convert WORKERS FORMAT QUALITY OUTPUT DOCUMENT...\n");
        return 2;
    }
    FileList list;
    for (const QString& document : arguments.mid(5)) {
        list.Append(document);
    }
    SilentDialogs dialogs;
    FixedView view(arguments[4], arguments[3].toInt(), *format);
    ConversionRun run(list, dialogs, view, DocumentReaderFactory(), arguments[1].toInt());

    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(1);
    QElapsedTimer clock;
    clock.start();
    run.PushButton2_Click();
    std::printf("%.3f %lld\n", clock.elapsed() / 1000.0, static_cast<long long>(longestStall));
    return dialogs.failed ? 1 : 0;
}
