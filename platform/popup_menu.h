// A popup menu of numbered items (the unit menu): items are added once and
// greyed while their unit sits in a slot; the window shows it at the cursor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PopupItem {
  int32_t nId;        // returned when chosen; nonzero
  std::string sLabel; // shown as it stands (UTF-8)
  int32_t bGrayed;    // 1: shown greyed, cannot be chosen
};

class PopupMenu {
public:
  virtual ~PopupMenu() = default;
  void Append(int32_t nId, const char *szLabel);
  // Greys (1) or enables (0) the item with that id; returns 0 when none has it.
  int32_t SetGrayed(int32_t nId, int32_t bGrayed);
  void Clear();
  const std::vector<PopupItem> &Items() const { return aItems; }
  // Shows the menu with its top left corner at a screen point, waits for the
  // user and returns the chosen item's id, 0 when none was chosen.
  virtual int32_t Track(void *owner, int32_t nScreenX, int32_t nScreenY) = 0;

protected:
  std::vector<PopupItem> aItems;
};

// For tests: "chooses" nChoice each time it is shown. Like the real menu it
// returns 0 for an id it does not hold or a greyed item.
class PresetPopupMenu : public PopupMenu {
public:
  int32_t Track(void *owner, int32_t nScreenX, int32_t nScreenY) override;
  int32_t nChoice = 0;
  int32_t nShown = 0; // how many times it was shown
  int32_t nLastX = 0; // where it was shown last
  int32_t nLastY = 0;
};
