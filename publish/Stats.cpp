#include "publish/Stats.h"

#include <sstream>

#include "client/ValueText.h"

namespace trax::publish {

std::string Stats::Text(const std::string& unit) const {
    std::ostringstream out;
    auto one = [&](const char* name, const char* type, const char* help, double value) {
        out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n"
            << name << " " << value << "\n";
    };
    one("trax_up", "gauge", "1 while the publisher runs.", 1);
    one("trax_publish_connected", "gauge", "1 while connected to the broker.", connected.load() ? 1 : 0);
    one("trax_controller_failing", "gauge", "1 while the controller's calls fail.", controllerFailing.load() ? 1 : 0);
    one("trax_publish_queue_messages", "gauge", "Messages waiting for the broker.", static_cast<double>(queued.load()));
    one("trax_publish_queue_bytes", "gauge", "Bytes waiting for the broker.", static_cast<double>(queuedBytes.load()));
    one("trax_publish_messages_total", "counter", "Messages handed to the broker.",
        static_cast<double>(published.load()));
    one("trax_publish_acknowledged_total", "counter", "Messages the broker acknowledged.",
        static_cast<double>(acknowledged.load()));
    one("trax_publish_reconnects_total", "counter", "Connections made again after a loss.",
        static_cast<double>(reconnects.load()));
    one("trax_publish_dropped_total", "counter", "Messages dropped when the queue was full.",
        static_cast<double>(dropped.load()));
    const int statuses[2] = {statusA.load(), statusB.load()};
    const float values[2] = {valueA.load(), valueB.load()};
    const std::string unitLabel = ",unit=\"" + client::PrometheusLabel(unit.empty() ? "unknown" : unit) + "\"";
    out << "# HELP trax_head_value The latest valid value of each head, in its display unit.\n"
           "# TYPE trax_head_value gauge\n";
    for (int h = 0; h < 2; ++h)
        if (statuses[h] == 0)
            out << "trax_head_value{head=\"" << (h == 0 ? "A" : "B") << "\"" << unitLabel << "} "
                << client::ValueText(values[h], -1) << "\n";
    out << "# HELP trax_head_status The latest reading's status of each head (1 for the one it has).\n"
           "# TYPE trax_head_status gauge\n";
    for (int h = 0; h < 2; ++h)
        out << "trax_head_status{head=\"" << (h == 0 ? "A" : "B") << "\",status=\"" << client::StatusName(statuses[h])
            << "\"} 1\n";
    out << calls.PrometheusText();
    return out.str();
}

}  // namespace trax::publish
