#pragma once

#include "app/consolelines.h"
#include "app/consolestate.h"
#include "cliargs.h"
#include "link/linkengine.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace qeln {

class Transport;
namespace history {
class HistoryDownload;
}

// qeln-cli's "history" and "clear-history" commands. history polls the status once (the
// model names the rows and the workbook), then downloads the whole log with the console's own
// download and writes it as .xlsx or .csv (CSV on standard output without --out). Nothing is
// written when the download fails: a partial file would look complete to a script.
// clear-history sends one initialisation request and waits for its acknowledgement.
class CliHistory : public QObject {
    Q_OBJECT
public:
    explicit CliHistory(const CliArgs &args, QObject *parent = nullptr);
    ~CliHistory() override;

    void start();

    static constexpr int StatusWaitMs = 5000;
    static constexpr int AcknowledgementWaitMs = 3000;
    // A download that makes no progress this long is given up (the download's own repeats
    // end long before; this only guards against a link that neither answers nor fails).
    static constexpr int StallMs = 20000;

Q_SIGNALS:
    void finished(int exitCode);

private:
    void onOpened();
    void onOpenFailed(const QString &reason);
    void onStatusDecoded();
    void decodeStatusModel();
    void onProgress(int percent, const QString &label);
    void onDownloadFinished();
    void onMessage(MessageKind kind, const QString &text);
    void onDeadline();
    void writeResult();
    void finish(int code, const QString &error = QString());

    CliArgs args_;
    ConsoleState state_;
    LinkEngine engine_;
    ConsoleLineWriter trace_;
    std::unique_ptr<history::HistoryDownload> download_;
    std::unique_ptr<Transport> transport_;
    QTimer deadline_;
    bool started_ = false;
    bool downloading_ = false;
    bool done_ = false;
    bool progressShown_ = false;
};

} // namespace qeln
