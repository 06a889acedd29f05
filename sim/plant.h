#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>

namespace qeln::sim {

// The plant behind the simulated controller: its measurements, settings, logs and network
// block, as the controller's protocol side reads and writes them. Time is the model's own:
// advance() steps it; start() lets a timer step it in real time times the speed factor.
class Plant : public QObject {
    Q_OBJECT
public:
    static constexpr int StatusRegisters = 131;
    enum LogKind { AlarmLog = 1, EventLog = 2 };

    explicit Plant(QObject *parent = nullptr);
    ~Plant() override;

    void setModel(int modelCode);     // 1..4
    int model() const;
    void setSpeed(double factor);     // simulated seconds per real second
    void setSeed(quint32 seed);       // noise is reproducible for a given seed
    // "normal", "ac-fail", "battery-alarms", "no-battery", or the path of a JSON file.
    bool loadScenario(const QString &nameOrPath, QString *error);
    void prefillHistory(int records); // up to 5000 alarm records
    // Up to 5000 event records of everyday settings and commands before the present ones.
    void prefillEvents(int records);

    void start();                     // real-time stepping (100 ms ticks)
    void stop();
    void advance(qint64 simulatedMs);

    // Input register 1..131 (the status block); any other address reads 0.
    std::uint16_t inputRegister(int address) const;
    // Holding register write, as function 06 makes it. False when the register cannot be
    // written (the protocol side answers with an exception).
    bool writeRegister(int address, std::uint16_t value);

    // Logs. Record numbers run 0..count-1; record 0 is the oldest. Alarm records are 34 data
    // bytes, event records 10.
    int logCount(LogKind kind) const;
    QByteArray logRecord(LogKind kind, int number) const; // empty when out of range
    void clearLog(LogKind kind);
    // Replaces a log with these records (record 0 first), each cut or padded to its log's
    // size; the newest 5000 are kept.
    void setLog(LogKind kind, const QList<QByteArray> &records);

    // The network block: what the read answers (the data after the function code) and what a
    // write brings (the block with its 0x12345678 marker).
    QByteArray ipSettingsReadBack() const;
    bool writeIpSettings(const QByteArray &block);
    // The read answers exactly these bytes (zero-padded to the answer's size) until a write is
    // accepted; a write then starts from the plant's own block. For blocks a console must
    // cope with: length bytes that point past the answer, odd texts.
    void setIpSettingsReadBack(const QByteArray &block);

    // The plant clock, set without an event record (start-up, or from the host's clock).
    void setClock(const QDateTime &dateTime);
    QDateTime clock() const;
    // The physical relay of dry contact 1..6: closed or open, after the normal state
    // (register 70) is applied to the alarm state that register 41 reports.
    bool contactClosed(int contact) const;
    QString scenarioName() const;

Q_SIGNALS:
    // Each appended log record, for tracing.
    void logAppended(qeln::sim::Plant::LogKind kind, const QByteArray &record);

private Q_SLOTS:
    void onTick();

private:
    struct Model;
    Model *m;
};

} // namespace qeln::sim
