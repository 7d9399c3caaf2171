#pragma once

#include "settings/StationSettings.h"

namespace plant {

// The [db] section of config.ini, its url read as libpq reads it.
settings::PlantSettings readSettings(const QString &programFolder);

} // namespace plant
