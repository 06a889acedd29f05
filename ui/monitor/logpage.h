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

protected:
    void showEvent(QShowEvent *event) override;

private:
    void build();
    template <typename W> W *add(W *widget, const char *name, const QRect &geometry);
    void onLinesAppended(const QStringList &lines);
    void onMemoCleared();
    void onActiveChanged();
    void onButton1Clicked();
    void onSaved(const QString &path);
    void onSaveFailed(const QString &message);
    void showFolder();

    DataLog &log_;
    QGroupBox *rgLogoTime_ = nullptr;
    QButtonGroup *intervals_ = nullptr;
    QPushButton *button1_ = nullptr;
    QPushButton *button2_ = nullptr;
    QPushButton *btnLogo_ = nullptr;
    QPlainTextEdit *mmLogo_ = nullptr;
    QLabel *folder_ = nullptr;
    QFrame *pnlDSPver_ = nullptr;
    QString lastSaved_;
    QHash<QString, QWidget *> controls_;
    QPointer<QMessageBox> failedBox_;
    QPointer<QMessageBox> savedBox_;
};

} // namespace qeln
