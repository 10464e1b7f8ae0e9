#include "Echo_Tile.h"

void Echo_Tile::onButton(const ButtonEvent& event) {
    hostNotify(event.control());
}

vorn_string Echo_Tile::onParentCommand(const ParentCommand& command) {
    vorn_string echo = command.name();
    const vorn_string value = command.value();
    if (!value.isEmpty()) echo += "=" + value;
    return echo;
}
