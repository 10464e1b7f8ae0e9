#include "Contact_Tile.h"
VORN_COMPONENT_EXPORT(Contact_Tile)
