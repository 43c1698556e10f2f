#include "Metrics.h"

#include <trax.h>

#include <sstream>

#include "client/ValueText.h"

namespace traxserve {

namespace tc = trax::client;

namespace {

const char* const kHeads[2] = {"A", "B"};

}  // namespace

tc::CallStats& ServerCallStats() {
    static tc::CallStats stats;
    return stats;
}

Reply MetricsRoute(ApiContext& ctx, const Request&) {
    std::ostringstream out;
    out << "# HELP trax_up 1 while traxctl serve runs.\n# TYPE trax_up gauge\ntrax_up 1\n";
    FloatValue values[2] = {};
    std::string mode = "unknown";
    try {
        // A scrape is a reading of its own; its successes stay out of the log.
        ctx.device->Call(
            "TRAX_GetCalcData", [&] { return TRAX_GetCalcData(&values[0], &values[1]); }, false);
        mode = "measurement";
    } catch (const CallFailure& f) {
        // Values are refused in setting mode with error 5: that tells the mode.
        if (f.errorNumber && *f.errorNumber == 5) mode = "setting";
        values[0].status = values[1].status = TRAX_VALUE_INVALID;
        out << "# HELP trax_values_ok 0 when the values could not be read for this scrape.\n"
               "# TYPE trax_values_ok gauge\ntrax_values_ok 0\n";
    }
    const std::string unit = tc::PrometheusLabel(ctx.unit.empty() ? "unknown" : ctx.unit);
    out << "# HELP trax_head_value The latest valid value of each head, in its display unit.\n"
           "# TYPE trax_head_value gauge\n";
    for (int h = 0; h < 2; ++h)
        if (values[h].status == TRAX_VALUE_VALID)
            out << "trax_head_value{head=\"" << kHeads[h] << "\",unit=\"" << unit << "\"} "
                << tc::ValueText(values[h].value, -1) << "\n";
    out << "# HELP trax_head_status The latest reading's status of each head (1 for the one it has).\n"
           "# TYPE trax_head_status gauge\n";
    for (int h = 0; h < 2; ++h)
        out << "trax_head_status{head=\"" << kHeads[h] << "\",status=\"" << tc::StatusName(values[h].status)
            << "\"} 1\n";
    out << "# HELP trax_controller_mode The controller's operating mode as the last reading showed it.\n"
           "# TYPE trax_controller_mode gauge\n";
    for (const char* m : {"measurement", "setting", "unknown"})
        out << "trax_controller_mode{mode=\"" << m << "\"} " << (mode == m ? 1 : 0) << "\n";
    int storing = 0, counts[2] = {0, 0};
    bool storageKnown = true;
    for (int h = 0; h < 2 && storageKnown; ++h) {
        try {
            ctx.device->Call(
                "TRAX_DataStorageGetStatus", [&] { return TRAX_DataStorageGetStatus(h, &storing, &counts[h]); }, false);
        } catch (const CallFailure&) {
            storageKnown = false;
        }
    }
    if (storageKnown) {
        out << "# HELP trax_storage_storing 1 while the controller's data storage runs.\n"
               "# TYPE trax_storage_storing gauge\ntrax_storage_storing "
            << (storing != 0 ? 1 : 0) << "\n";
        out << "# HELP trax_storage_count Values held in the data storage per head.\n"
               "# TYPE trax_storage_count gauge\n";
        for (int h = 0; h < 2; ++h) out << "trax_storage_count{head=\"" << kHeads[h] << "\"} " << counts[h] << "\n";
    }
    out << ServerCallStats().PrometheusText();
    Reply reply;
    reply.contentType = "text/plain; version=0.0.4; charset=utf-8";
    reply.body = out.str();
    return reply;
}

}  // namespace traxserve
