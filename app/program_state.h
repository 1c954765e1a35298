// Program-state flags that live for the whole run; only start-up resets them.
#pragma once

#include <cstdint>

struct ProgramState {
    bool ImagenMostrada = false;   // a quick development is on display in the preview
    bool BotonPulsado = false;     // a mouse button went down on the preview
    bool ParcheColocado = false;   // a white-balance patch has been placed
    bool ParcheCuadrado = true;    // the patch is a rectangle (else a circle)
    bool MetodoMedia = false;      // relative exposures: Average (true) or Median
    int16_t NumBracketing = 1;     // bracketed output images
    int16_t EVBracketing = 2;      // EV gap between them
    bool AvisoHLMostrado = false;  // highlight-recovery advice shown
    bool AvisoWBMostrado = false;  // same-white-balance advice shown
};
