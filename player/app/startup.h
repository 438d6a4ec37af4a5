// The player's start-up and shutdown: the steps that need no window, in the
// order the window program runs them around its window (the values first,
// then the device list, the directories, empty slots, the settings, the units,
// and the buffers once the window shows). The terminal tool runs the same
// steps around one command.
#pragma once

#include <cstdint>

#include "common/unit_interface.h"

extern void *hwndMain; // the main window; null in the terminal tool and until it exists
extern char
    szProgramDir[kPathBytes]; // directory of the program file, no trailing '/'; "." when unknown

// Makes hwnd the owner of every message box and unit dialog from now on.
void SetMainWindow(void *hwnd);

// Start values of the engine fields (the first-run settings among them), the
// normal process priority applied, the render layer's hooks connected, and
// the settings store told how to list the devices on a first run.
void SetStartValues();
// The output devices into DevCapsTable. Loads the audio library: a program
// that only renders to files leaves it out (the settings' first run lists them).
void ListOutputDevices();
// The program's directory (szProgramDir: skins are looked up there) and the
// plug-in directory: pszPluginDir when given, else PLUGIN/ beside the
// program. Returns 0 when the plug-in path does not fit (then there is no
// catalogue).
int32_t SetProgramDirectories(const char *pszPluginDir);
// Empties the eight unit slots: no path, name or library, switched off.
void ClearUnitSlots();
// Builds the catalogue and binds the slots the settings name. On the run whose
// LoadSettings created the settings, slot 0 gets the catalogue's first unit
// (saved), so a new user hears something; a user who empties every slot later
// keeps them empty. Returns the number of bound slots.
int32_t BindSavedUnits();
// The effect delay lines (reverb, then chorus).
void AllocEffectLines();
// The window's first message: the effect lines and the output buffers; when
// the buffers fail, the "PCMバッファ障害" box owned by hwnd and 0 (the window
// then closes). Returns 1 when all exist.
int32_t AllocStartBuffers(void *hwnd);
// Shutdown once the window placement is saved: playback stopped, output
// buffers, chorus and reverb lines and the song freed, every unit unbound.
void ShutDown();
