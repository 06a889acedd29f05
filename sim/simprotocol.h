#pragma once

// What the controller answers: request PDU in, answer PDU out, for each of the two links.
// The links differ in more than framing: the history, initialisation and network-settings
// requests have their own function codes and answer layouts on each link, and the status read
// of 131 registers carries a byte count of its own on each.

#include "historyfaults.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace qeln::sim {

class Plant;

enum class LinkKind { Serial, Tcp };

struct Reply {
    enum class Kind {
        Silent, // no answer at all
        Pdu,    // an answer PDU: function code and data
        Bare,   // TCP only: the MBAP header alone, length 0 (the IP settings write's answer)
    };
    Kind kind = Kind::Silent;
    QByteArray pdu;
    // Set by the history faults: the link spoils this answer as it spoils any, and sends it
    // this much later than it otherwise would.
    bool spoil = false;
    int delayMs = 0;

    static Reply silent() { return {}; }
    static Reply answer(QByteArray pdu) { return {Kind::Pdu, std::move(pdu)}; }
    static Reply bare() { return {Kind::Bare, {}}; }
};

class Protocol {
public:
    static constexpr std::uint8_t UnitAddress = 1;
    // The standard limit of one read; the status block's 131 registers from address 1 are
    // the one read beyond it.
    static constexpr int MaxReadRegisters = 125;
    static constexpr int StatusStart = 1;
    static constexpr int StatusCount = 131;
    // The network block's size in the read-back answer: the console reads a fixed 158 bytes
    // on TCP (header, function code and this block).
    static constexpr int IpBlockSize = 150;

    enum ExceptionCode : std::uint8_t {
        IllegalFunction = 0x01,
        IllegalDataAddress = 0x02,
        IllegalDataValue = 0x03,
    };

    explicit Protocol(Plant &plant);

    // The faults of the history download; none unless set.
    void setHistoryFaults(const HistoryFaultSettings &settings);

    // The answer to one request PDU (function code and data) received on the given link.
    Reply answer(LinkKind link, QByteArrayView request);

    // Whether a request addressed to this unit is ours to answer. The serial line is a bus:
    // only unit 1 answers. On TCP the unit field also takes the values 0 and 255 that stand
    // for "the device at this address".
    static bool servesUnit(LinkKind link, std::uint8_t unit);

private:
    Reply readInputRegisters(LinkKind link, QByteArrayView data);
    Reply writeSingleRegister(LinkKind link, QByteArrayView request);
    Reply serialRequest(std::uint8_t function, QByteArrayView data);
    Reply tcpRequest(std::uint8_t function, QByteArrayView data);
    Reply logCount(LinkKind link, int kind);
    Reply logRecord(LinkKind link, int kind, int number, std::uint8_t function);
    QByteArray ipBlock() const;
    static Reply exception(LinkKind link, std::uint8_t function, ExceptionCode code);

    Plant &plant;
    HistoryFaults historyFaults;
};

} // namespace qeln::sim
