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
// slots. Returns the number of bound units; 0 when there is none, or when
// $TORQA_PLUGIN_DIR is too long to use (said on stderr).
int32_t CliBindUnits();

// 1 when some bound unit can make a sound (its sound set read, something in
// it loaded). Otherwise says on stderr that nothing would sound, below the
// unit's own word on which file failed and why, and returns 0.
int32_t CliUnitsCanSound();

// The directory the units were looked for in.
const char *CliPluginDir();

// The shutdown is the start-up's: ShutDown (player/app/startup.h).
