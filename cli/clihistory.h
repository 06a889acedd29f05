#pragma once

#include "clicommand.h"

#include <QElapsedTimer>

#include <memory>

namespace qeln {

namespace history {
class HistoryDownload;
}

// qeln-cli's "history" and "clear-history" commands. history polls the status once (the
// model names the rows and the workbook), then downloads the whole log with the console's own
// download and writes it as .xlsx or .csv (CSV on standard output without --out). Nothing is
// written when the download fails: a partial file would look complete to a script.
// clear-history sends one initialisation request and waits for its acknowledgement.
class CliHistory : public CliCommand {
    Q_OBJECT
public:
    explicit CliHistory(const CliArgs &args, QObject *parent = nullptr);
    ~CliHistory() override;

    // history alarm|event [--out FILE] and clear-history alarm|event --yes: the arguments after
    // the command word. The --out file is checked here already (it must be one that can be
    // created), so a usage error is all the caller sees of it.
    static bool parseHistory(const QStringList &args, CliArgs &out, QString &error);
    static bool parseClearHistory(const QStringList &args, CliArgs &out, QString &error);

    // history --out: the file must be one that can be created; if not, the command ends with
    // exit 2 before the link is opened, so nothing is sent.
    void start() override;

    static constexpr int StatusWaitMs = 5000;
    static constexpr int AcknowledgementWaitMs = 3000;
    // A download that hears no answer this long is given up (the download's own repeats end
    // before; this only guards against a link that neither answers nor fails). Any answer
    // counts, also one to a repeated request that stores no row.
    static constexpr int StallMs = 20000;
    // A status poll the controller refused is sent again at once, this many times at most.
    static constexpr int StatusRepollLimit = 3;

protected:
    void linkOpened() override;
    void stopping() override;
    void deadlinePassed() override;

private:
    void onStatusDecoded();
    void startDownload();
    void onProgress(int percent, const QString &label);
    void onAnswerArrived();
    void onRequestFailed(const RequestFailure &failure);
    void onDownloadFinished();
    void onMessage(MessageKind kind, const QString &text);
    void writeResult();

    std::unique_ptr<history::HistoryDownload> download_;
    bool downloading_ = false;
    QElapsedTimer lastAnswer_; // the download's last answer, for the stall guard
    int statusRepolls_ = 0;
    Ticket clearTicket_ = 0; // the erase asked for (clear-history)
    int stallMs_ = StallMs;
    bool progressShown_ = false;
};

} // namespace qeln
