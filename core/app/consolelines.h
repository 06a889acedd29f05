#pragma once

#include <QByteArray>
#include <QObject>

#include <cstdio>

namespace qeln {

// Writes the diagnostic console lines, one per event, to a C stream (standard output by
// default). The lines are bytes: a frame or a controller text goes out as it came.
class ConsoleLineWriter : public QObject {
    Q_OBJECT
public:
    explicit ConsoleLineWriter(std::FILE *stream = stdout, QObject *parent = nullptr);
    void setStream(std::FILE *stream); // nullptr silences the lines

public Q_SLOTS:
    void onLine(const QByteArray &line);

private:
    std::FILE *stream_;
};

} // namespace qeln
