#pragma once

#include "app/consolestate.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>

namespace qeln {

// One line of the module tree: its text, level (0 root, 1 group, 2 alarm line), the index of
// its parent in nodes() (-1 for the root) and whether it shows the alarm icon.
struct TreeNode {
    QString text;
    int level = 0;
    int parent = -1;
    bool alarm = false;
};

// The module tree as data: the tree-state machine that builds it from the second status
// response on, clears and rebuilds it when the battery-in-use register (66) changes, and the
// one-second refresh (Timer3) that makes its icons follow ALARM1 and ALARM2. The tree view
// mirrors nodes(): rebuilt on built(), emptied on cleared(), icons re-read on iconsChanged().
class ModuleTree : public QObject {
    Q_OBJECT
public:
    // Icon indices of ImageList1.
    enum Icon { Orange = 0, Grey = 1, Normal = 2, Alarm = 3 };

    explicit ModuleTree(const ConsoleState &state, QObject *parent = nullptr);

    // The tree-state step of a status decode, right after the registers are stored.
    void statusStep();
    // Timer3's tick.
    void onBlinkTick();
    void build();
    void ClearModuleTree();
    void RefreshModuleTree();

    QTimer *blinkTimer() { return &blinkTimer_; }
    // Empty while no tree exists. nodes()[0] is the root "Alarm그룹".
    const QList<TreeNode> &nodes() const { return nodes_; }

    int TreeState = 0;
    bool TreeExists = false;
    bool TreeBuilt = false;
    int TreeBatteryUse = 0;
    std::array<std::uint16_t, 2> AlarmWatchMask{0xFFFF, 0xFFFF};
    std::array<std::uint16_t, 2> AlarmSeen{0, 0};

Q_SIGNALS:
    void built();
    void cleared();
    void iconsChanged();

private:
    bool alarmOf(int node) const;

    const ConsoleState &s_;
    QList<TreeNode> nodes_;
    // What each node's icon watches: the group or the name-table entry it stands for.
    struct NodeRule {
        int kind = 0;  // 0 root, 1 group, 2 child
        int group = 0; // 0 AC, 1 output, 2 module, 3 battery
        int slot = 0;
    };
    QList<NodeRule> rules_;
    QTimer blinkTimer_;
};

} // namespace qeln
