#include "measure/diffusion.h"

namespace vanto {

DiffusionExponents measureDiffusion(const Workspace& ws, int32_t frame, int32_t cellId, int32_t life) {
    return measureDiffusionOver(SlotScanSteps{ws, frame, cellId}, life);
}

}  // namespace vanto
