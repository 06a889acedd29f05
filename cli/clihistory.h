#pragma once

#include "clicommand.h"

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

    static constexpr int StatusWaitMs = 5000;
    static constexpr int AcknowledgementWaitMs = 3000;
    // A download that makes no progress this long is given up (the download's own repeats
    // end long before; this only guards against a link that neither answers nor fails).
    static constexpr int StallMs = 20000;

protected:
    void linkOpened() override;
    void stopping() override;
    void deadlinePassed() override;

private:
    void onStatusDecoded();
    void startDownload();
    void onProgress(int percent, const QString &label);
    void onDownloadFinished();
    void onMessage(MessageKind kind, const QString &text);
    void writeResult();

    std::unique_ptr<history::HistoryDownload> download_;
    bool downloading_ = false;
    bool progressShown_ = false;
};

} // namespace qeln
