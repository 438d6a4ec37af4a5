// Engine set-up for the terminal commands that make sound: the saved settings,
// the effect lines and the units, as the player's start-up prepares them.
#pragma once

#include <cstdint>

// Loads the saved settings (the registry file at $TORQA_REGISTRY, else the
// user's) into the engine fields and prepares the effect delay lines. The
// terminal tool never saves settings.
void CliLoadSettings();

// Scans the unit catalogue in PLUGIN/ beside the program ($TORQA_PLUGIN_DIR
// instead, when set) and binds the saved slots. When no slot ends up holding a
// unit (a first run), slot 0 gets the catalogue's first unit for this run
// only. Returns the number of bound units; 0 when there is none, or when
// $TORQA_PLUGIN_DIR is too long to use (said on stderr; CliPluginDir() is "").
int32_t CliBindUnits();

// The directory the units were looked for in.
const char *CliPluginDir();

// Unbinds every unit.
void CliReleaseUnits();
