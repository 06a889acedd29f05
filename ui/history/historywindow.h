#pragma once

#include "history/historyrecords.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace qeln {

struct ConsoleState;
class HistoryTableModel;

namespace history {
class HistoryDownload;
}

// The grid window of a history download: frmHistory (the alarm history, "Event Log Data")
// or frmEventHistory (the event log, "Event Data"). It shows what the download reports, the
// rows, the progress, the completion, and saves the downloaded rows as a workbook. Closing
// it by any way (the close button, Escape, the window manager) ends the download and hands
// the link back to the status poll.
class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    // outputDir: where "Save File" writes; state: the model text of the workbook's title.
    HistoryWindow(history::LogKind kind, history::HistoryDownload &download,
                  const ConsoleState &state, const QString &outputDir, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    history::LogKind kind() const { return kind_; }
    HistoryTableModel *model() const { return model_; }

    void done(int result) override;

private:
    void buildPanel();
    void buildGrid();
    void onCountReceived(int total);
    void onRowStored(int row, const QStringList &cells);
    void onProgressChanged(int percent, const QString &label);
    void showProgress();
    void onFinished(const QString &message);
    void onNoData(const QString &message);
    void onFailed(const QString &message, const QString &reason);
    void onFileSaveClicked();
    void onClosing();
    void showBox(QMessageBox::Icon icon, const QString &text, const QString &details = {});

    const history::LogKind kind_;
    QPointer<history::HistoryDownload> download_;
    const ConsoleState &state_;
    const QString outputDir_;
    QFrame *panel1_ = nullptr;
    QLineEdit *edtFileName_ = nullptr;
    QPushButton *bbtFileSave_ = nullptr;
    QPushButton *bbtClose_ = nullptr;
    QLabel *labAlarm_ = nullptr;
    QProgressBar *gauge_ = nullptr;
    QTableView *grid_ = nullptr;
    HistoryTableModel *model_ = nullptr;
    bool closed_ = false;
    static constexpr int ProgressRedrawMs = 50;
    QTimer progressRedraw_;
    int pendingPercent_ = 0;
    QString pendingLabel_;
};

} // namespace qeln
