#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <mutex>

namespace qeln {

// Failed logins slow down the address they come from, and only that one: after the n-th
// failure in a row the address is turned away, unchecked, for 2^(n-1) s, at most 30 s; a
// success or 10 quiet minutes forget it. Turning away (rather than holding the request) keeps
// the server's workers free for everyone else and spares the bcrypt work. Thread-safe: the
// server's workers call it.
class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // How long `address` must still wait before its password is checked again (zero: go on).
    Clock::duration wait(const QString &address, Clock::time_point now = Clock::now());
    void failed(const QString &address, Clock::time_point now = Clock::now());
    void succeeded(const QString &address);

private:
    struct Failures {
        int count = 0;
        Clock::time_point last;
        Clock::time_point until;
    };
    std::mutex mutex_;
    QHash<QString, Failures> failures_;
};

} // namespace qeln
