// The player's start-up as the terminal commands that make sound run it.
#pragma once

#include <cstdint>

// Start values, then the saved settings (the registry file at $TORQA_REGISTRY,
// else the user's) and the effect lines. A first run creates the settings,
// listing the devices for them.
void CliLoadSettings();

// Scans the unit catalogue in PLUGIN/ beside the program ($TORQA_PLUGIN_DIR
// instead, when set) and binds the saved slots (on a first run, slot 0 gets the
// first unit and keeps it). When no slot binds a unit, slot 0 gets the
// catalogue's first unit for this run only: the terminal tool cannot assign
// slots. Returns 1 when some bound unit can make a sound (its sound set read,
// something in it loaded). Otherwise says why on stderr (no unit found, the
// directory too long, no instrument loaded: below the unit's own word on
// which file failed and why), shuts the start-up down and returns 0.
int32_t CliBindUnits();

// The directory the units were looked for in.
const char *CliPluginDir();

// The shutdown is the start-up's: ShutDown (player/app/startup.h).
