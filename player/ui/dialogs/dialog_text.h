// What the dialogs' edit fields read as numbers, the way the system's
// GetDlgItemInt reads them.
#pragma once

#include <cstdint>
#include <string>

// Leading blanks, an optional '-' when bSigned, then digits to the end of the
// text; anything else, an empty text or a value outside int32 reads as 0.
int32_t ReadDlgInt(const std::string &sText, int32_t bSigned);
