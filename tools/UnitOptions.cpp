#include "UnitOptions.h"

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
    if (!unit.name.empty() || said || ctx.json) return;
    said = true;
    ctx.err << "traxctl: the unit of the values is not known; name it with --unit mm|um|inch|mil, or read it with "
               "--read-unit --units metric|inch (switches the controller to setting mode and back)\n";
}

}  // namespace traxctl
