// Window tests of the development runs: a folder of RAW stand-ins and a test
// that plays dcraw by writing (or not writing) the TIFF a run waits for.
#pragma once

#include "tests/app/window_fixture.h"
#include "tests/common/test_images.h"

#include <QDir>
#include <QFile>
#include <algorithm>

class DevelopmentTest : public WindowTest {
  protected:
    // A folder of RAW stand-ins (the fake decoder never reads them).
    QString makeSet(const QStringList& names, const QString& sub = "s") {
        QDir(dir.path()).mkpath(sub);
        const QString folder = dir.path() + "/" + sub + "/";
        for (const QString& n : names) writeBytes(folder + n, "raw");
        return folder;
    }
    void choose(const QString& path) {
        nextFile = path;
        window->cmdSeleccionar->click();
    }
    // What dcraw would write for a RAW path: a 600 x 400 grey ramp.
    static void develop(const QString& raw, double scale = 1.0, int width = 600, int height = 400) {
        const GflBitmap img = makeBitmap(width, height, [&](int x, int, int c) {
            return std::min(65535.0, scale * (2000 + 50 * x + 300 * c));
        });
        writeBytes(tiffDeRaw(raw), headerFirstTiff(img));
    }
    bool displayed() {
        return waitFor([&] { return window->estado.ImagenMostrada; }, 5000);
    }
    // Short, so that lines with several paths stay under the length limit.
    QTemporaryDir dir{QDir::tempPath() + "/o-XXXXXX"};
};
