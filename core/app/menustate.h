#pragma once

namespace qeln {

// What the main window's commands and link indicators look like: which menu items are
// enabled and which panels are shown. The session decides it; the main window applies it.
struct MenuState {
    // Enabled menu items.
    bool mLogin = true;
    bool mLogout = false;
    bool mConnect = false;
    bool mDisconnect = false;
    bool mMonitor = true;
    bool mSystemConfiguration = false;
    bool mAlarmManager = false;
    bool mMeasurementSet = false;
    bool mDataTimeSet = false;
    bool mIPSet = false;
    bool mFactoryInitial = false;
    bool mAlarmLog = false;
    bool mEventLog = false;
    bool mInitialLog = false;
    bool mAlarmTest = false;

    // Shown panels.
    bool FlatPanel3 = false; // TX/RX lamps
    bool ComSetting = false; // status bar
    bool pnlConnect = false; // TCP link lamp
    bool GroupBox1 = false;  // monitoring area

    enum Scope { AllOfThem, ExceptEventLogAndAlarmTest };
    // The configuration and history commands, which the first good status response enables
    // and a disconnect or a logout disables.
    void setConfigurationCommands(bool enabled, Scope scope = AllOfThem)
    {
        mSystemConfiguration = mAlarmManager = mMeasurementSet = mDataTimeSet = mIPSet = enabled;
        mFactoryInitial = mAlarmLog = mInitialLog = enabled;
        if (scope == AllOfThem)
            mEventLog = mAlarmTest = enabled;
    }

    bool operator==(const MenuState &) const = default;
};

} // namespace qeln
