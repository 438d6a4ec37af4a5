// The fonts the window's texts are set in, each in a font slot of its own so
// that the player, its dialogs and a unit's windows never rename each
// other's. Most texts are Japanese: IPA fonts (fonts-ipafont-*, found through
// fontconfig) stand in for the system's Japanese UI fonts.
#pragma once

#include <FL/Enumerations.H>

// "ＭＳ ゴシック": IPA Gothic, the message boxes and the panel's texts.
Fl_Font FltkGothicFont();
// "ＭＳ Ｐゴシック": IPA PGothic, the dialogs' proportional face.
Fl_Font FltkPGothicFont();
// "ＭＳ 明朝": IPA Mincho.
Fl_Font FltkMinchoFont();
