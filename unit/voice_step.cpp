// The end-of-data rule and the four render routines a voice may carry.
#include "unit/voice_step.h"

namespace vokra {

template <bool kFiveStage> void PastEnd(Voice &rVoice, const Instrument &rInst) {
  const int32_t nEnd = rInst.nEnd;
  // Distance the loop jumps back; the loop runs from nEnd + 2 - nLoopBack to nEnd.
  // Formed wide: loop points come from sample files unchecked.
  int64_t nLoopBack;
  if (kFiveStage)
    nLoopBack = rInst.nLoopLength;
  else
    nLoopBack = static_cast<int64_t>(nEnd) - rInst.nLoopStart + 2;
  if (!rInst.bLoop) {
    rVoice.nStage = kFiveStage ? 5 : 4;
    EndVoice(rVoice);
    return;
  }
  if (kFiveStage && aUnitChannel[rVoice.nChannel].bRhythm) {
    rVoice.nLevel = 0;
    rVoice.nStage = 5;
    rVoice.bHeldOff = 0;
    EndVoice(rVoice);
  }
  int64_t nPos = rVoice.nPos - nLoopBack;
  // A step longer than the loop leaves the position past the end:
  // fold it into the loop, or end the voice when the loop is empty.
  if (nPos > nEnd && rVoice.bActive) {
    if (nLoopBack > 0) {
      const int64_t nLoopFrom = nEnd + 2 - nLoopBack;
      nPos = nLoopFrom + (nPos - nLoopFrom) % nLoopBack;
    } else {
      rVoice.nStage = kFiveStage ? 5 : 4;
      EndVoice(rVoice);
    }
  }
  rVoice.nPos = Wrap32(nPos);
}

template void PastEnd<false>(Voice &, const Instrument &);
template void PastEnd<true>(Voice &, const Instrument &);

int32_t RenderSimple(int32_t nVoice) {
  return RenderVoice<false, false>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}
int32_t RenderSimpleInterp(int32_t nVoice) {
  return RenderVoice<true, false>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}
int32_t RenderFiveStage(int32_t nVoice) {
  return RenderVoice<false, true>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}
int32_t RenderFiveStageInterp(int32_t nVoice) {
  return RenderVoice<true, true>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}

} // namespace vokra
