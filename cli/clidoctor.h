#pragma once

#include "cliargs.h"

#include <QString>
#include <QStringList>

namespace qeln {

// "doctor [DEVICE|serial:DEVICE|tcp:HOST[:PORT]]": why a port does not open, and the
// commands that mend it. Without a target it lists the serial ports and examines each.
bool parseDoctorArgs(const QStringList &args, CliArgs &out, QString &error);
// Prints the report; 0 when every check passed, 1 otherwise.
int runDoctor(const CliArgs &args);

} // namespace qeln
