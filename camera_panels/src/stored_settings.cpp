#include "camera_panels/stored_settings.h"

#include "platform/defaults.h"

namespace morvane {

StoredSettings::StoredSettings(Defaults& defaults, QObject* parent) : QObject(parent), defaults_(defaults) {}

StoredSettings& StoredSettings::shared() {
    static auto* settings = new StoredSettings(Defaults::standard());
    return *settings;
}

StoredSettings& StoredSettings::attachedTo(QObject& owner, Defaults& defaults) {
    for (auto* settings : owner.findChildren<StoredSettings*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (&settings->defaults() == &defaults) return *settings;
    }
    return *new StoredSettings(defaults, &owner);
}

bool StoredSettings::boolValue(const std::string& key, bool fallback) const {
    return defaults_.boolValue(key, fallback);
}

void StoredSettings::setBool(const std::string& key, bool value) {
    const auto stored = defaults_.value(key);
    if (stored && stored->is_boolean() && stored->get<bool>() == value) return;
    defaults_.set(key, value);
    emit changed(QString::fromStdString(key));
}

}  // namespace morvane
