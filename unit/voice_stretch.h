// A voice over a run of samples: its quiet stretches (no envelope step, no
// step past nEnd, no vibrato) go through a loop that does nothing but read,
// scale and add, eight samples a pass where the processor allows; the
// samples between them step one by one as the per-sample voice does.
#pragma once

#include <cstdint>

#include "unit/voices.h"

namespace vokra {

// Renders rVoice for up to nCount samples at rate nRateNow, sample i with
// vibrato sine anSine[i], adding its samples weighted by nGain / 8128 to
// pnSum[i] (RenderVoiceRun's contract).
template <bool kInterp, bool kFiveStage>
VoiceRun RenderRun(Voice &rVoice, int32_t nCount, const int32_t *anSine, int32_t nRateNow,
                   int64_t nGain, int32_t *pnSum);

} // namespace vokra
