// Make's voice loops: every active voice for one sample (MixVoices), and
// one voice for a run of samples (RenderVoiceRun, by its render routine).
#include <cstdint>

#include "common/audio_math.h"
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"
#include "unit/voice_math.h"
#include "unit/voice_step.h"
#include "unit/voice_stretch.h"
#include "unit/voices.h"

namespace vokra {

void MixVoices() {
  const int32_t nSine = anLfoSine[nLfoPhase];
  const int32_t nRateNow = nRate;
  const int64_t nVoiceGain = nFinalGain;
  // nVoiceTop is read anew each time: a voice that ends lowers it.
  for (int32_t v = 0; v < nVoiceTop; ++v) {
    Voice &rVoice = aVoice[v];
    if (!rVoice.bActive)
      continue;
    // The four routines are known: a compare chain lets them inline here
    // instead of a call through the pointer per voice and sample.
    const PfnRender pfnRender = rVoice.pfnRender;
    int32_t s;
    if (pfnRender == RenderSimple)
      s = RenderVoice<false, false>(rVoice, nSine, nRateNow);
    else if (pfnRender == RenderSimpleInterp)
      s = RenderVoice<true, false>(rVoice, nSine, nRateNow);
    else if (pfnRender == RenderFiveStage)
      s = RenderVoice<false, true>(rVoice, nSine, nRateNow);
    else if (pfnRender == RenderFiveStageInterp)
      s = RenderVoice<true, true>(rVoice, nSine, nRateNow);
    else
      s = pfnRender(v);
    // s x nInstGain x nFinalGain / 8128, the product wrapping at 64 bits (as
    // s x (nInstGain x nFinalGain), the same modulo 2^64). At the usual gains
    // (64 x 127 = 8128) the quotient is s itself: |s x 8128| stays far below 2^63.
    const int64_t nGain = static_cast<int64_t>(rVoice.nInstGain) * nVoiceGain;
    int64_t nAdd = s;
    if (nGain != kVoiceScale)
      nAdd = static_cast<int64_t>(static_cast<uint64_t>(s) * static_cast<uint64_t>(nGain)) /
             kVoiceScale;
    *rVoice.pnSum = Wrap32(*rVoice.pnSum + nAdd);
    *rVoice.pnVoiceCount += 1;
  }
}

VoiceRun RenderVoiceRun(int32_t nVoice, int32_t nCount, const int32_t *anSine, int32_t *pnSum) {
  Voice &rVoice = aVoice[nVoice];
  const int32_t nRateNow = nRate;
  const int64_t nGain = static_cast<int64_t>(rVoice.nInstGain) * nFinalGain;
  const PfnRender pfnRender = rVoice.pfnRender;
  if (pfnRender == RenderSimpleInterp)
    return RenderRun<true, false>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
  if (pfnRender == RenderFiveStage)
    return RenderRun<false, true>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
  if (pfnRender == RenderFiveStageInterp)
    return RenderRun<true, true>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
  // Note-on picks one of the four; the simple one is the rest.
  return RenderRun<false, false>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
}

} // namespace vokra
