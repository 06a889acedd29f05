#pragma once

#include <QHash>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;

namespace qeln {

class DataLog;
class OperatorQuestions;

// The page "log" of the main window's page control: the data log's memo and buttons, and the
// link, CAN and firmware fields the status decode fills. It presents the DataLog; it decides
// nothing itself.
class LogPage : public QWidget {
    Q_OBJECT
public:
    explicit LogPage(DataLog &log, QWidget *parent = nullptr);

    // Texts, visibility and text colours (0xRRGGBB) of the controls of this page named in the
    // maps; names of other pages' controls are ignored. lbCanCpuVer and pnlDSPver stay hidden.
    void applyTexts(const QMap<QString, QString> &texts, const QMap<QString, bool> &visible,
                    const QMap<QString, quint32> &colours);

    // The control of this page by its objectName; nullptr when there is none.
    QWidget *control(const QString &name) const { return controls_.value(name); }

    // Where the page's questions go (message boxes unless set).
    void setQuestions(OperatorQuestions *questions);
    // The folder the operator chose: the data log (and the exports) go there from now on. A
    // folder that cannot take files is refused with a message; false then.
    bool chooseOutputFolder(const QString &dir);
    // A short note that a save happened and where (closes by itself after a while).
    void noteSaved(const QString &text);
    // Closes the failed-save message, when another window speaks about the same failure.
    void dismissFailure();

    // The text of the control that opens the folder dialog, as messages name it.
    static QString folderButtonText();

Q_SIGNALS:
    // The operator chose another output folder.
    void outputFolderChosen(const QString &dir);

protected:
    void showEvent(QShowEvent *event) override;
    // A page larger than its design: the log's memo takes the room, what is below it moves down.
    void resizeEvent(QResizeEvent *event) override;

private:
    void build();
    template <typename W> W *add(W *widget, const char *name, const QRect &geometry);
    void onLinesAppended(const QStringList &lines);
    void onMemoCleared();
    void onActiveChanged();
    void onButton1Clicked();
    void onButton2Clicked();
    void onFolderClicked();
    void onSaved(const QString &path);
    void onSaveFailed(const QString &message);
    void showFolder();

    DataLog &log_;
    QHash<QWidget *, QRect> designed_; // each control's place at the design size
    QGroupBox *rgLogoTime_ = nullptr;
    QButtonGroup *intervals_ = nullptr;
    QPushButton *button1_ = nullptr;
    QPushButton *button2_ = nullptr;
    QPushButton *btnLogo_ = nullptr;
    QPushButton *folderButton_ = nullptr;
    OperatorQuestions *questions_ = nullptr;
    bool deleteAsked_ = false; // a "삭제" question is open
    QPlainTextEdit *mmLogo_ = nullptr;
    QLabel *folder_ = nullptr;
    QFrame *pnlDSPver_ = nullptr;
    QString lastSaved_;
    QHash<QString, QWidget *> controls_;
    QPointer<QMessageBox> failedBox_;
    QPointer<QMessageBox> savedBox_;
};

} // namespace qeln
