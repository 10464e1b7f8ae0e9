#include "Dial_Tile.h"
VORN_COMPONENT_EXPORT(Dial_Tile)
