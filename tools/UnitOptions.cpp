#include "UnitOptions.h"

#include "client/LibraryLoader.h"

namespace traxctl {

DisplayUnit UnitOf(const Context& ctx, int head) {
    if (!ctx.units.name.empty()) return {ctx.units.name, -1};
    if (!ctx.units.readCode) return {"", -1};
    if (ctx.units.system == UnitSystem::Unknown) {
        throw UsageError{"--read-unit needs --units metric|inch: the library does not report the unit system"};
    }
    return trax::client::LookUpUnit(ctx.units.system, ctx.controller.ReadDisplayUnitCode(head));
}

void SayUnitNotKnown(const Context& ctx, const DisplayUnit& unit) {
    static bool said = false;
    // A batch's check of its lines says nothing; the run says it once.
    if (!unit.name.empty() || said || ctx.json || trax::client::CallsHeld()) return;
    said = true;
    ctx.err << "traxctl: unit not known (name it: --unit mm|um|inch|mil, or TRAX_UNIT)\n";
}

}  // namespace traxctl
