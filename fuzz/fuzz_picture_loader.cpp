// Fuzz target: the picture object's loader (PNG, GIF and TIFF through
// ObjetoImagen::Cargar) and what the preview does next with the picture.
#include "fuzz/fuzz_common.h"
#include "support/errors.h"
#include "support/objeto_imagen.h"

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = scratchFile(data, size);
    ObjetoImagen picture;
    try {
        picture.Cargar(path);
    } catch (const RunError&) {
        require(picture.isNull(), "a failed load leaves no picture");
        return 0;
    }
    const int width = picture.Ancho(), height = picture.Alto();
    require(width > 0 && height > 0, "a loaded picture has pixels");
    // Qt draws a GIF's whole canvas, however little of it the file fills: a
    // few hundred bytes can make megapixels, legitimately. Showing those
    // takes the fuzzer a second apiece and reaches nothing smaller pictures
    // do not.
    if (static_cast<long long>(width) * height > (1 << 20)) return 0;
    try {
        // As the preview shows it: fitted into a small box, then gamma.
        const double scale = std::min(64.0 / width, 48.0 / height);
        picture.Redimensionar(std::max(1, static_cast<int>(width * scale)),
                              std::max(1, static_cast<int>(height * scale)));
        picture.CorregirGamma(2.2);
        (void)picture.ColorEn(0, 0);
        (void)picture.ColorEn(picture.Ancho() - 1, picture.Alto() - 1);
    } catch (const RunError& e) {
        // Only memory may run short on a picture that loaded.
        require(e.number() == kErrOutOfMemory, "a loaded picture can be shown");
    }
    return 0;
}
