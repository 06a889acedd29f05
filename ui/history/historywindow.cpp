#include "history/historywindow.h"

#include "common/messagebox.h"
#include "common/screenfit.h"

#include "app/consolestate.h"
#include "history/historydownload.h"
#include "history/historyexport.h"
#include "history/historytablemodel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace qeln {

namespace {

constexpr int PanelHeight = 30;
constexpr int RowHeight = 20;
const QColor Lime{0x00, 0xFF, 0x00};

// The completion text separates its lines with a carriage return, which a label would not
// break at.
QString displayText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The grid's narrow columns (27 pixels for a three-digit row number) hold their text when
// cells keep a margin of one pixel instead of the style's three.
class TightCellStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        if (metric == PM_FocusFrameHMargin)
            return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// The width column 0 needs for the row numbers of a log of `total` records.
int indexColumnWidth(const QTableView *grid, int total)
{
    const QString widest = QString(QString::number(total).size(), QLatin1Char('0'));
    return grid->fontMetrics().horizontalAdvance(widest) + 4;
}

} // namespace

HistoryWindow::HistoryWindow(history::LogKind kind, history::HistoryDownload &download,
                             const ConsoleState &state, const QString &outputDir, QWidget *parent)
    : QDialog(parent)
    , kind_(kind)
    , download_(&download)
    , state_(state)
    , outputDir_(outputDir)
{
    const bool alarms = kind == history::LogKind::Alarm;
    setObjectName(alarms ? QStringLiteral("frmHistory") : QStringLiteral("frmEventHistory"));
    setWindowTitle(alarms ? QStringLiteral("Event Log Data") : QStringLiteral("Event Data"));
    // Minimise and maximise only: the window is left through its Close button (or Escape).
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowMinMaxButtonsHint);

    buildPanel();
    buildGrid();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panel1_);
    layout->addWidget(grid_, 1);

    // Wider than a common laptop's screen: there it takes the screen's width and the grid
    // scrolls.
    fitOnScreen(this, alarms ? QSize(1440, 565) : QSize(645, 564));

    connect(&download, &history::HistoryDownload::countReceived, this, &HistoryWindow::onCountReceived);
    connect(&download, &history::HistoryDownload::rowStored, this, &HistoryWindow::onRowStored);
    connect(&download, &history::HistoryDownload::progressChanged, this, &HistoryWindow::onProgressChanged);
    progressRedraw_.setSingleShot(true);
    progressRedraw_.setInterval(ProgressRedrawMs);
    connect(&progressRedraw_, &QTimer::timeout, this, &HistoryWindow::showProgress);
    connect(&download, &history::HistoryDownload::finished, this, &HistoryWindow::onFinished);
    connect(&download, &history::HistoryDownload::noData, this, &HistoryWindow::onNoData);
    connect(&download, &history::HistoryDownload::failed, this, &HistoryWindow::onFailed);
}

HistoryWindow::~HistoryWindow()
{
    // Destroyed without being closed (its parent went first): the download still ends.
    onClosing();
}

void HistoryWindow::buildPanel()
{
    panel1_ = new QFrame(this);
    panel1_->setObjectName(QStringLiteral("Panel1"));
    panel1_->setFixedHeight(PanelHeight);
    panel1_->setFrameShape(QFrame::Panel);
    panel1_->setFrameShadow(QFrame::Raised);

    auto *label1 = new QLabel(QStringLiteral("File Name"), panel1_);
    label1->setObjectName(QStringLiteral("Label1"));

    edtFileName_ = new QLineEdit(panel1_);
    edtFileName_->setObjectName(QStringLiteral("edtFileName"));
    edtFileName_->setFixedWidth(126);
    edtFileName_->setReadOnly(true);
    QFont bold = edtFileName_->font();
    bold.setBold(true);
    edtFileName_->setFont(bold);

    bbtFileSave_ = new QPushButton(panel1_);
    bbtFileSave_->setObjectName(QStringLiteral("bbtFileSave"));
    bbtFileSave_->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    bbtFileSave_->setToolTip(QStringLiteral("Save File"));
    bbtFileSave_->setAccessibleName(QStringLiteral("Save File"));
    bbtFileSave_->setEnabled(false);

    bbtClose_ = new QPushButton(panel1_);
    bbtClose_->setObjectName(QStringLiteral("bbtClose"));
    bbtClose_->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    bbtClose_->setToolTip(QStringLiteral("Close"));
    bbtClose_->setAccessibleName(QStringLiteral("Close"));

    // Enter must neither save nor close by itself.
    for (QPushButton *button : {bbtFileSave_, bbtClose_}) {
        button->setAutoDefault(false);
        button->setFixedSize(32, 24);
    }

    labAlarm_ = new QLabel(QStringLiteral("Total : "), panel1_);
    labAlarm_->setObjectName(QStringLiteral("LabAlarm"));
    labAlarm_->setMinimumWidth(120);

    gauge_ = new QProgressBar(panel1_);
    gauge_->setObjectName(QStringLiteral("Gauge"));
    gauge_->setRange(0, 100);
    gauge_->setValue(0);
    gauge_->setFixedWidth(125);
    QPalette lime = gauge_->palette();
    lime.setColor(QPalette::Highlight, Lime);
    lime.setColor(QPalette::HighlightedText, Qt::black);
    gauge_->setPalette(lime);

    auto *row = new QHBoxLayout(panel1_);
    row->setContentsMargins(6, 2, 6, 2);
    row->setSpacing(6);
    row->addWidget(label1);
    row->addWidget(edtFileName_);
    row->addWidget(bbtFileSave_);
    row->addWidget(bbtClose_);
    row->addSpacing(12);
    row->addWidget(labAlarm_);
    row->addWidget(gauge_);
    row->addStretch(1);

    connect(bbtFileSave_, &QPushButton::clicked, this, &HistoryWindow::onFileSaveClicked);
    connect(bbtClose_, &QPushButton::clicked, this, &QDialog::reject);
}

void HistoryWindow::buildGrid()
{
    const bool alarms = kind_ == history::LogKind::Alarm;
    model_ = new HistoryTableModel(alarms ? history::alarmHeaders() : history::eventHeaders(), this);

    grid_ = new QTableView(this);
    grid_->setObjectName(QStringLiteral("StringGrid1"));
    auto *tight = new TightCellStyle;
    tight->setParent(grid_);
    grid_->setStyle(tight);
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(11);
    grid_->setFont(font);
    grid_->setModel(model_);
    grid_->setWordWrap(false);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    grid_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    // Column 0 carries the row's number; the view's own row numbers would repeat it.
    QHeaderView *rows = grid_->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(RowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView *header = grid_->horizontalHeader();
    header->setFont(font);
    header->setFixedHeight(RowHeight);
    header->setMinimumSectionSize(1);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    const QList<int> widths = alarms ? history::alarmColumnWidths() : history::eventColumnWidths();
    for (int column = 0; column < widths.size(); ++column)
        header->resizeSection(column, widths[column]);
}

void HistoryWindow::onCountReceived(int total)
{
    // Row numbers of four digits and more do not fit the designed width: the column grows.
    const int indexWidth = indexColumnWidth(grid_, total);
    if (indexWidth > grid_->columnWidth(0))
        grid_->setColumnWidth(0, indexWidth);
    pendingLabel_.clear();
    gauge_->setValue(0);
    labAlarm_->setText(QStringLiteral("Total : 0 /0"));
}

void HistoryWindow::onRowStored(int row, const QStringList &cells)
{
    model_->setRow(row, cells);
}

void HistoryWindow::onProgressChanged(int percent, const QString &label)
{
    // Records come faster than a screen can show them: the gauge and the counter are drawn at
    // most every ProgressRedrawMs (each redraw would otherwise cost more than a record).
    pendingPercent_ = std::clamp(percent, 0, 100);
    pendingLabel_ = label;
    if (!progressRedraw_.isActive())
        progressRedraw_.start();
}

void HistoryWindow::showProgress()
{
    progressRedraw_.stop();
    if (pendingLabel_.isEmpty())
        return;
    gauge_->setValue(pendingPercent_);
    labAlarm_->setText(pendingLabel_);
    pendingLabel_.clear();
}

void HistoryWindow::onFinished(const QString &message)
{
    model_->flush();
    showProgress();
    bbtFileSave_->setEnabled(true);
    bbtClose_->setEnabled(true);
    showBox(QMessageBox::Information, displayText(message));
}

void HistoryWindow::onNoData(const QString &message)
{
    showBox(QMessageBox::NoIcon, message);
}

void HistoryWindow::onFailed(const QString &message, const QString &reason)
{
    model_->flush();
    showProgress();
    showBox(QMessageBox::Warning, message, reason);
}

void HistoryWindow::onFileSaveClicked()
{
    if (!download_)
        return;
    history::HistoryTable table;
    table.kind = kind_;
    table.headers = model_->headers();
    table.rows = download_->rows();
    QString error;
    const QString path = history::exportWorkbook(outputDir_, state_.ModelText, table,
                                                 QDateTime::currentDateTime(), &error);
    if (path.isEmpty()) {
        showBox(QMessageBox::Warning, QStringLiteral("No Excel"), error);
        return;
    }
    edtFileName_->setText(QFileInfo(path).fileName());
    edtFileName_->setToolTip(QDir::toNativeSeparators(path));
    edtFileName_->setCursorPosition(0);
    showBox(QMessageBox::Information,
            QStringLiteral("Saved to %1").arg(QDir::toNativeSeparators(path)));
}

void HistoryWindow::done(int result)
{
    onClosing();
    QDialog::done(result);
}

void HistoryWindow::onClosing()
{
    if (closed_)
        return;
    closed_ = true;
    bbtFileSave_->setEnabled(false);
    edtFileName_->clear();
    if (download_)
        download_->close();
}

void HistoryWindow::showBox(QMessageBox::Icon icon, const QString &text, const QString &details)
{
    openMessageBox(this, icon, windowTitle(), text, QStringLiteral("messageBox"), BoxText::Plain, details);
}

} // namespace qeln
