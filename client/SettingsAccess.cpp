#include "client/SettingsAccess.h"

namespace trax::client {

std::string SettingRef::Name() const {
    std::string name = setting->name;
    if (setting->scope == Scope::Head) name += head == 0 ? " A" : " B";
    return name;
}

std::vector<SettingRef> ReadableSettings(int firstHead, int lastHead) {
    std::vector<SettingRef> refs;
    for (const Setting& s : SettingTable()) {
        if (!s.Readable()) continue;
        if (s.scope == Scope::Controller) {
            refs.push_back({&s, 0});
        } else {
            for (int h = firstHead; h <= lastHead; ++h) refs.push_back({&s, h});
        }
    }
    return refs;
}

}  // namespace trax::client
