#include "statussamples.h"

#include "plant/channeltable.h"

namespace qeln::fleet {

QList<Sample> statusSamples(const PlantStatus &plant)
{
    QList<Sample> out;
    out.reserve(PlantChannelCount + qsizetype(plant.alarms.size()) + plant.contacts.count);
    for (const PlantChannel &c : plantChannels()) {
        const auto value = c.metricValue(plant);
        if (!value)
            continue;
        Sample s{QByteArray(c.metric), {}, *value};
        if (c.labelName)
            s.labels.append({QByteArray(c.labelName), QLatin1String(c.labelValue)});
        out.append(std::move(s));
    }
    for (const PlantAlarm &alarm : plant.alarms)
        out.append({QByteArrayLiteral("qeln_alarm_active"), {{"alarm", alarm.name}}, alarm.active ? 1.0 : 0.0});
    for (int contact = 1; contact <= plant.contacts.count; ++contact)
        out.append({QByteArrayLiteral("qeln_contact_active"), {{"contact", QString::number(contact)}},
                    plant.contacts.active(contact) ? 1.0 : 0.0});
    return out;
}

} // namespace qeln::fleet
