// Process priority (the SetPriorityClass stand-in). The classes are the
// system's numbers the settings store keeps.
#pragma once

#include <cstdint>

enum : uint32_t {
  kIdlePriorityClass = 0x40,      // nice 10
  kNormalPriorityClass = 0x20,    // nice 0
  kHighPriorityClass = 0x80,      // nice -5
  kRealtimePriorityClass = 0x100, // nice -10
};

// Applies a priority class to every thread of the process. Returns 1 when the
// change was made; 0 for an unknown class or when the system refused it (no
// permission to raise the priority), which callers ignore.
int32_t SetPriorityClass(uint32_t dwPriorityClass);
