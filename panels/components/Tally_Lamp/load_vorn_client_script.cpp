#include "Tally_Lamp.h"
VORN_COMPONENT_EXPORT(Tally_Lamp)
