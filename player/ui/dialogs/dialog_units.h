// The dialogs' units, shared with the sound unit's windows.
#pragma once

#include "platform/dialog_units.h"
