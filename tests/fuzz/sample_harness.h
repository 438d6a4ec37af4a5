// Shared by the EPC, FPV and patch targets: parse a sample file into an
// instrument, check what the loader promises, then play it through the voice
// engine so that every offset the loader produced is also read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "unit/soundset.h"

typedef int32_t (*PfnParseSample)(vokra::Instrument &inst, const uint8_t *pFile, size_t nFile);
// Format-specific checks of a successful load; pSample is the locked data
// (nDataSize bytes, then kBlockSlack zero bytes).
typedef void (*PfnCheckSample)(const vokra::Instrument &inst, const uint8_t *pSample,
                               const uint8_t *pFile, size_t nFile);

int FuzzSample(const uint8_t *pData, size_t nSize, PfnParseSample pfnParse, int32_t nType,
               PfnCheckSample pfnCheck);
