// The unit's settings in the registry key
// "Software\QUIRN-PLUGIN\VOKRAUNIT\Statics" (values nUseCh, nFinalGain,
// bOverSample, CFG).
#pragma once

namespace vokra {

// Reads the four settings into nFinalGain, bOverSample, the channels'
// bReceive and szCfgName, creating the keys with their defaults when the key
// is missing. Values that cannot be read stay as they were, except the
// receive mask, which then lets all channels receive.
void LoadUnitSettings();
// Writes the four settings from memory.
void SaveUnitSettings();
// Creates the vendor key and its Statics subkey with their marker values.
void CreateUnitKeys();

} // namespace vokra
