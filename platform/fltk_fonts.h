// The fonts the window's texts are set in. Most texts are Japanese: IPA
// Gothic (fonts-ipafont-gothic, found through fontconfig) stands in for the
// system's Japanese UI font.
#pragma once

#include <FL/Enumerations.H>

// FLTK's font number for IPA Gothic, registered on the first call.
Fl_Font FltkGothicFont();
