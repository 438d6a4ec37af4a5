#include "player/ui/dialogs/dialog_text.h"

int32_t ReadDlgInt(const std::string &sText, int32_t bSigned) {
  size_t i = 0;
  while (i < sText.size() && sText[i] == ' ')
    ++i;
  const bool bNegative = bSigned && i < sText.size() && sText[i] == '-';
  if (bNegative)
    ++i;
  if (i == sText.size())
    return 0;
  int64_t nValue = 0;
  for (; i < sText.size(); ++i) {
    if (sText[i] < '0' || sText[i] > '9')
      return 0;
    nValue = nValue * 10 + (sText[i] - '0');
    if (nValue > INT32_MAX)
      return 0;
  }
  return static_cast<int32_t>(bNegative ? -nValue : nValue);
}
