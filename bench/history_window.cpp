// The alarm-history window's download against a controller on HOST:PORT, timed: from the
// menu command, and from the count request (after the window's designed 400 ms start delay)
// to the last row; and the longest the event loop went without turning while rows came in.
// Usage: history_window HOST:PORT       (QT_QPA_PLATFORM=offscreen without a display)

#include "app/consolesession.h"
#include "app/mainform.h"
#include "history/historydownload.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

using namespace qeln;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: history_window HOST:PORT\n");
        return 2;
    }
    ConsoleSession session;
    session.setConsoleStream(nullptr);
    MainForm window(session);
    window.show();
    session.login();
    session.connectCommand();
    session.dialogCreated();
    session.chooseTcp();
    session.confirmConnect(QString::fromLocal8Bit(argv[1]));

    QElapsedTimer sinceCommand;
    QElapsedTimer sinceCount;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
    });
    history::HistoryDownload &download = window.historyDownload();
    QObject::connect(&download, &history::HistoryDownload::countReceived, [&](int) {
        sinceCount.start();
        sinceTick.start();
        ticker.start();
    });
    QObject::connect(&download, &history::HistoryDownload::finished, [&] {
        ticker.stop();
        std::printf("%d records: %.3f s from the command, %.3f s from the count answer; longest event-loop gap %lld ms\n",
                    int(download.rows().size()), sinceCommand.elapsed() / 1000.0, sinceCount.elapsed() / 1000.0,
                    static_cast<long long>(longestGap));
        QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    });
    QObject::connect(&download, &history::HistoryDownload::failed, [&] { QCoreApplication::exit(1); });
    QObject::connect(&session, &ConsoleSession::connectFailed, [&] { QCoreApplication::exit(1); });
    QObject::connect(&session, &ConsoleSession::statusArrived, [&] {
        QTimer::singleShot(300, [&] {
            sinceCommand.start();
            window.menuItem(QStringLiteral("mAlarmLog"))->trigger();
        });
    });
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(1); });
    return QApplication::exec();
}
