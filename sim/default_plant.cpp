// The built-in plant: the text of sim/default.plant, embedded at build time.
#include "sim/default_plant_text.h"
#include "sim/plant.h"

namespace n2sim {

const char *DefaultPlantText() { return kDefaultPlantText; }

}  // namespace n2sim
