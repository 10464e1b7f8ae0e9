#include "Echo_Tile.h"
VORN_COMPONENT_EXPORT(Echo_Tile)
