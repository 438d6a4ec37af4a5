// The player's persistent settings: the engine's settings fields, the unit
// slot paths, the output device and the window placement, kept under the
// registry key "Software\Brenlow\TORQA\Statics". Every operation opens the
// key afresh and closes it again; registry failures are silent and leave the
// fields as they were.
#pragma once

#include <cstdint>

constexpr char kProductKey[] = "Software\\Brenlow\\TORQA";
constexpr char kSettingsKey[] = "Software\\Brenlow\\TORQA\\Statics";

struct WindowPoint {
  int32_t x; // screen pixels
  int32_t y;
};

// 1 when the last LoadSettings created the settings key (a first run).
extern int32_t bSettingsCreated;
// Lists the output devices into DevCapsTable. LoadSettings calls it on a
// first run whose list is still empty, before it stores the first device's
// identity; null: the list stays as it is. (A program that only renders never
// needs the device list otherwise.)
typedef void (*PfnListDevices)();
extern PfnListDevices pfnListDevices;

// Sets every engine setting to its first-run value.
void SetDefaultSettings();
// Reads every setting into its field (creating the key with the current
// fields on first run), chooses the output device and the 3D engine, and
// validates and applies the process priority. Start-up runs it once, after
// the device list is filled.
void LoadSettings();
// Writes every setting except the window placement and reselects the 3D engine.
void SaveSettings();
// Creates the product key and the settings key with their marker values.
void CreateSettingsKey();
// Fills *pPoint from nPosX / nPosY and bSizeGeometry from its value; missing
// values leave them unchanged.
void ReadWindowPlacement(WindowPoint *pPoint);
// Stores *pPoint as nPosX / nPosY and the current bSizeGeometry.
void WriteWindowPlacement(const WindowPoint *pPoint);
