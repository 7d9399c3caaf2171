#include "plant/PlantSettings.h"

#include "platform/Database.h"

namespace plant {

settings::PlantSettings readSettings(const QString &programFolder)
{
    return settings::readPlantSettings(programFolder, database::passwordIn);
}

} // namespace plant
