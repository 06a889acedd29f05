#include "clidoctor.h"

#include "doctor/serialdoctor.h"

#include <cstdio>

namespace qeln {

using cliargs::fail;

bool parseDoctorArgs(const QStringList &args, CliArgs &out, QString &error)
{
    out.command = CliArgs::Command::Doctor;
    for (cliargs::ArgCursor c(args, out.trace); c.next();) {
        const QString &a = c.arg();
        if (a.startsWith(QLatin1Char('-')) || out.doctor.given)
            return cliargs::unexpected(error, QStringLiteral("doctor"), a);
        out.doctor.given = true;
        if (a.startsWith(QLatin1String("tcp:")) || a.startsWith(QLatin1String("serial:"))) {
            if (!parseLinkTarget(a, out.doctor.target, error))
                return fail(error, QStringLiteral("doctor: ") + error);
        } else if (a.isEmpty()) {
            return fail(error, QStringLiteral("doctor: the device is empty"));
        } else {
            out.doctor.target.device = a;
        }
    }
    return true;
}

int runDoctor(const CliArgs &args)
{
    const doctor::SerialDoctor doctor;
    const LinkTarget &target = args.doctor.target;
    doctor::Report report;
    if (!args.doctor.given)
        report = doctor.examineAll();
    else if (target.tcp)
        report = doctor.examineTcp(target.host, target.port);
    else
        report = doctor.examineDevice(target.device);
    std::fputs(report.text().toUtf8().constData(), stdout);
    return report.allPassed() ? 0 : 1;
}

} // namespace qeln
