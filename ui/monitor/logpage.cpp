#include "monitor/logpage.h"

#include "common/messagebox.h"
#include "app/newfile.h"
#include "common/operatorquestions.h"
#include "monitor/datalog.h"

#include <QButtonGroup>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>

namespace qeln {

namespace {

// How long the "saved" note stays up when nobody closes it.
constexpr int SavedNoteMs = 8000;

// Controls that the decode may name but that this page never shows.
bool neverShown(const QString &name)
{
    return name == QLatin1String("lbCanCpuVer") || name == QLatin1String("pnlDSPver");
}

} // namespace

LogPage::LogPage(DataLog &log, QWidget *parent) : QWidget(parent), log_(log), questions_(&OperatorQuestions::boxes())
{
    setObjectName(QStringLiteral("TabSheet2"));
    build();
    log_.setFailureRemedy(QStringLiteral("Make that folder writable, or press \"%1\" under the log to choose "
                                         "another output folder, then press 저장 again.")
                              .arg(folderButtonText()));

    connect(&log_, &DataLog::linesAppended, this, &LogPage::onLinesAppended);
    connect(&log_, &DataLog::memoCleared, this, &LogPage::onMemoCleared);
    connect(&log_, &DataLog::activeChanged, this, &LogPage::onActiveChanged);
    connect(&log_, &DataLog::saved, this, &LogPage::onSaved);
    connect(&log_, &DataLog::saveFailed, this, &LogPage::onSaveFailed);
    connect(intervals_, &QButtonGroup::idClicked, &log_, &DataLog::setIntervalIndex);
    connect(button1_, &QPushButton::clicked, this, &LogPage::onButton1Clicked);
    connect(button2_, &QPushButton::clicked, this, &LogPage::onButton2Clicked);
    connect(folderButton_, &QPushButton::clicked, this, &LogPage::onFolderClicked);
    connect(btnLogo_, &QPushButton::clicked, &log_, &DataLog::toggle);

    // The log may hold lines already (the page can be built after logging started).
    onLinesAppended(log_.lines());
    onActiveChanged();
    showFolder();
}

template <typename W> W *LogPage::add(W *widget, const char *name, const QRect &geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    controls_.insert(widget->objectName(), widget);
    designed_.insert(widget, geometry);
    return widget;
}

void LogPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The page area at the design size; a smaller page keeps the design (the window scrolls).
    constexpr QSize Designed{848, 680};
    const int dx = std::max(0, width() - Designed.width());
    const int dy = std::max(0, height() - Designed.height());
    const QRect memo = designed_.value(mmLogo_);
    for (auto it = designed_.cbegin(); it != designed_.cend(); ++it) {
        QWidget *w = it.key();
        if (w->parentWidget() != this)
            continue;
        QRect r = it.value();
        if (w == mmLogo_) {
            r.setSize(r.size() + QSize(dx, dy));
        } else if (r.top() > memo.bottom()) {
            r.translate(0, dy);
            if (w == folderButton_)
                r.translate(dx, 0);
            else if (w == folder_)
                r.setWidth(r.width() + dx);
        }
        w->setGeometry(r);
    }
}

void LogPage::build()
{
    // The page area of the main window's page control is about 848 x 680.
    rgLogoTime_ = add(new QGroupBox(QStringLiteral("Log Time"), this), "rgLogoTime", QRect(8, 2, 460, 50));
    auto *row = new QHBoxLayout(rgLogoTime_);
    row->setContentsMargins(8, 2, 8, 4);
    row->setSpacing(6);
    intervals_ = new QButtonGroup(this);
    const QStringList captions = DataLog::intervalCaptions();
    for (int i = 0; i < captions.size(); ++i) {
        auto *item = new QRadioButton(captions[i], rgLogoTime_);
        item->setObjectName(QStringLiteral("rgLogoTime%1").arg(i));
        intervals_->addButton(item, i);
        row->addWidget(item);
    }
    intervals_->button(log_.intervalIndex())->setChecked(true);

    button1_ = add(new QPushButton(QStringLiteral("저장"), this), "Button1", QRect(480, 16, 100, 30));
    button2_ = add(new QPushButton(QStringLiteral("삭제"), this), "Button2", QRect(588, 16, 100, 30));
    btnLogo_ = add(new QPushButton(this), "btnLogo", QRect(696, 16, 106, 30));

    mmLogo_ = add(new QPlainTextEdit(this), "mmLogo", QRect(8, 58, 794, 441));
    mmLogo_->setReadOnly(true);
    mmLogo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmLogo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmLogo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmLogo_->setUndoRedoEnabled(false);
    mmLogo_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    // Where the files go, so that the operator knows before the first save.
    folder_ = add(new QLabel(this), "lbLogFolder", QRect(8, 502, 686, 18));
    folder_->setTextFormat(Qt::PlainText);
    folderButton_ = add(new QPushButton(folderButtonText(), this), "btnLogFolder", QRect(702, 499, 100, 24));
    folderButton_->setToolTip(QStringLiteral("Choose the folder for data logs and exports"));
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette grey = folder_->palette();
    grey.setColor(QPalette::WindowText, QColor(0x50, 0x50, 0x50));
    folder_->setPalette(grey);

    add(new QLabel(QStringLiteral("현재 speed  "), this), "Label50", QRect(8, 532, 90, 20));
    auto *speed = add(new QLineEdit(this), "edtSpeed", QRect(100, 530, 70, 24));
    add(new QLabel(QStringLiteral("이더넷 속도  "), this), "Label51", QRect(190, 532, 96, 20));
    auto *speedSetup = add(new QLineEdit(this), "edtSpeedSetup", QRect(288, 530, 100, 24));
    add(new QLabel(this), "LabCanFailCnt", QRect(420, 532, 170, 20));
    add(new QLabel(this), "LabCanCpuCom", QRect(600, 532, 200, 20));
    auto *fw = add(new QLineEdit(this), "edtFW", QRect(8, 564, 460, 24));
    for (QLineEdit *edit : {speed, speedSetup, fw})
        edit->setReadOnly(true);
    add(new QLabel(this), "lbCanCpuVer", QRect(480, 566, 320, 20))->hide();

    pnlDSPver_ = add(new QFrame(this), "pnlDSPver", QRect(8, 596, 794, 70));
    pnlDSPver_->setFrameShape(QFrame::StyledPanel);
    add(new QLabel(pnlDSPver_), "lbDspVer1", QRect(8, 4, 400, 20));
    add(new QLabel(pnlDSPver_), "lbDspVer2", QRect(8, 24, 400, 20));
    add(new QLabel(pnlDSPver_), "lbTaskFail", QRect(8, 44, 400, 20));
    pnlDSPver_->hide();
}

void LogPage::applyTexts(const QMap<QString, QString> &texts, const QMap<QString, bool> &visible,
                         const QMap<QString, quint32> &colours)
{
    for (auto it = controls_.cbegin(); it != controls_.cend(); ++it) {
        QWidget *w = it.value();
        const auto text = texts.constFind(it.key());
        if (text != texts.cend()) {
            if (auto *label = qobject_cast<QLabel *>(w))
                label->setText(*text);
            else if (auto *edit = qobject_cast<QLineEdit *>(w))
                edit->setText(*text);
        }
        const auto colour = colours.constFind(it.key());
        if (colour != colours.cend()) {
            QPalette p = w->palette();
            p.setColor(qobject_cast<QLineEdit *>(w) ? QPalette::Text : QPalette::WindowText,
                       QColor::fromRgb(QRgb(*colour)));
            w->setPalette(p);
        }
        const auto shown = visible.constFind(it.key());
        if (shown != visible.cend() && !neverShown(it.key()))
            w->setVisible(*shown);
    }
}

void LogPage::onLinesAppended(const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    // One paragraph per line, added in one go; the memo is never set whole again. Following
    // the newest line must not pull the view sideways to the end of a long record.
    // An operator who scrolled up to read, or selected text, keeps his place.
    QScrollBar *across = mmLogo_->horizontalScrollBar();
    QScrollBar *down = mmLogo_->verticalScrollBar();
    const int left = across->value();
    const bool follow = down->value() == down->maximum() && !mmLogo_->textCursor().hasSelection();
    mmLogo_->appendPlainText(lines.join(QLatin1Char('\n')));
    if (follow) {
        QTextCursor cursor = mmLogo_->textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::StartOfBlock);
        mmLogo_->setTextCursor(cursor);
    }
    across->setValue(left);
}

void LogPage::onMemoCleared()
{
    mmLogo_->clear();
}

void LogPage::onActiveChanged()
{
    btnLogo_->setText(log_.buttonCaption());
}

QString LogPage::folderButtonText()
{
    return QStringLiteral("폴더 변경...");
}

void LogPage::setQuestions(OperatorQuestions *questions)
{
    questions_ = questions ? questions : &OperatorQuestions::boxes();
}

void LogPage::onButton1Clicked()
{
    const int count = int(log_.lines().size());
    const QString path = log_.save();
    if (path.isEmpty())
        return; // onSaveFailed has said why
    noteSaved(QStringLiteral("%1 lines saved to\n%2").arg(count).arg(QDir::toNativeSeparators(path)));
}

void LogPage::onButton2Clicked()
{
    const int unsaved = log_.unsavedLines();
    if (unsaved == 0) {
        log_.clear();
        return;
    }
    if (deleteAsked_)
        return;
    deleteAsked_ = true;
    questions_->ask(this, QStringLiteral("logDeleteQuestion"), QStringLiteral("Log"),
                    QStringLiteral("%1 lines of the data log have not been saved to a file. Delete them?\n\n"
                                   "Choose No and press 저장 to keep them.")
                        .arg(unsaved),
                    [this](bool yes) {
                        deleteAsked_ = false;
                        if (yes)
                            log_.clear();
                    });
}

void LogPage::onFolderClicked()
{
    const QString dir = log_.outputDirectory().isEmpty() ? QDir::currentPath() : log_.outputDirectory();
    questions_->chooseFolder(this, QStringLiteral("Output folder for data logs and exports"), dir,
                             [this](const QString &chosen) { chooseOutputFolder(chosen); });
}

bool LogPage::chooseOutputFolder(const QString &dir)
{
    const QString path = QFileInfo(dir).absoluteFilePath();
    if (const QString problem = newfile::folderProblem(path); !problem.isEmpty() || dir.isEmpty()) {
        onSaveFailed(QStringLiteral("\"%1\" cannot be the output folder: %2. The output folder stays \"%3\".")
                         .arg(QDir::toNativeSeparators(path), problem.isEmpty() ? QStringLiteral("no folder given") : problem,
                              QDir::toNativeSeparators(QFileInfo(log_.outputDirectory()).absoluteFilePath())));
        return false;
    }
    log_.setOutputDirectory(path);
    lastSaved_.clear();
    showFolder();
    Q_EMIT outputFolderChosen(path);
    return true;
}

void LogPage::dismissFailure()
{
    if (failedBox_)
        failedBox_->close();
}

void LogPage::noteSaved(const QString &text)
{
    if (savedBox_)
        savedBox_->close();
    // Parented to the window: the page may be out of sight (after a disconnect).
    QMessageBox *box = openMessageBox(window(), QMessageBox::Information, QStringLiteral("Log"), text,
                                      QStringLiteral("logSavedBox"), BoxText::Selectable);
    QTimer::singleShot(SavedNoteMs, box, &QWidget::close);
    savedBox_ = box;
}

void LogPage::onSaved(const QString &path)
{
    lastSaved_ = QFileInfo(path).fileName();
    showFolder();
}

void LogPage::onSaveFailed(const QString &message)
{
    // An automatic save that keeps failing reports on every line: one box, kept current.
    if (failedBox_ && failedBox_->isVisible()) {
        failedBox_->setText(message);
        return;
    }
    failedBox_ = openMessageBox(this, QMessageBox::Warning, QStringLiteral("Log"), message,
                                QStringLiteral("logSaveFailedBox"), BoxText::Selectable);
}

void LogPage::showEvent(QShowEvent *event)
{
    showFolder(); // the output folder may have been chosen after the page was built
    QWidget::showEvent(event);
}

void LogPage::showFolder()
{
    const QString dir = log_.outputDirectory().isEmpty() ? QDir::currentPath() : log_.outputDirectory();
    QString text = QStringLiteral("Output folder: ") + QDir::toNativeSeparators(QFileInfo(dir).absoluteFilePath());
    if (!lastSaved_.isEmpty())
        text += QStringLiteral("    Last saved: ") + lastSaved_;
    folder_->setText(text);
}

} // namespace qeln
