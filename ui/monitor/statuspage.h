#pragma once

#include "monitor/powerflow.h"
#include "monitor/statusview.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace qeln {

class ContactAlarmForm;
class LiveMonitor;
struct ConsoleState;

// The page "Status" of the main window's page control: the module tree, the power-flow
// diagram with the plant's measurements, the dry-contact lamps, the battery panel and the
// controller's clock. It presents what the live monitor decodes; it decides nothing itself.
class StatusPage : public QWidget {
    Q_OBJECT
public:
    StatusPage(LiveMonitor &monitor, ConsoleState &state, QWidget *parent = nullptr);

    // Texts, visibility and text colours of the controls of this page named in the view;
    // names of other pages' controls are ignored.
    void applyView(const StatusView &view);
    // Shows the one picture of each strip that the frame names (none of the battery strip
    // for 0) and the battery pictures it sets; touches only what changes.
    void applyFrame(const PowerFlowFrame &frame);
    // The alarm-test reminder's blink.
    void setAlarmTestReminderVisible(bool visible);
    // The display part of the monitor preview.
    void preview();
    // While the controller does not answer, its values are greyed and its lamps unlit.
    void setAnswerMissing(bool missing);
    bool answerMissing() const { return answerMissing_; }

    // The contact-alarm window of dry contact 1..6, opened modally; deleted when closed.
    ContactAlarmForm *openContactAlarm(int contact);

    // The control of this page by its objectName; nullptr when there is none.
    QWidget *control(const QString &name) const { return controls_.value(name); }

private:
    void buildTree();
    void buildMainPanel();
    void buildDryContacts();
    void buildBatteryPanel();
    void buildClock();
    QLabel *addLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry,
                     bool measurement = true);
    QLabel *addPicture(QWidget *parent, const char *name, const QPixmap &pixmap, const QRect &geometry);
    // The two pictures of an indicator pair at one place; the normal one shows.
    void addIndicatorPair(QWidget *parent, const QString &prefix, int number, const QPoint &at, bool square);
    void registerControls();

    void setTextColour(QWidget *widget, const QColor &colour);
    void refreshTextColour(QWidget *widget);
    void showStripPicture(int strip, int picture);
    void updateBatteryCable();

    void onTreeBuilt();
    void onTreeCleared();
    void onTreeIconsChanged();

    LiveMonitor &monitor_;
    ConsoleState &state_;

    QHash<QString, QWidget *> controls_;
    // Text colour each control has while the controller answers.
    QHash<QWidget *, QColor> baseColours_;
    // Controls that show decoded values: greyed while the controller is silent.
    QSet<QWidget *> measurements_;
    // Indicator pictures with their lit picture, unlit while the controller is silent.
    QList<QPair<QLabel *, QPixmap>> lamps_;
    bool answerMissing_ = false;

    QTreeWidget *tree_ = nullptr;
    QList<QTreeWidgetItem *> treeItems_; // in the order of the tree's nodes
    QWidget *mainPanel_ = nullptr;
    std::array<std::array<QLabel *, 11>, 4> strips_{}; // AC, Rect, Sys, Batt
    std::array<int, 4> shownPicture_{}; // 1..11, 0 none
    QLabel *battCh_ = nullptr;
    QLabel *battDCh_ = nullptr;
    QLabel *alarmTest_ = nullptr;
    QLineEdit *clock_ = nullptr;
};

} // namespace qeln
