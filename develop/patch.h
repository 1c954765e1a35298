// Preview geometry and the white-balance patch: displayed size, pointer
// fractions, the patch outline, the shape toggle and the patch measurement.
#pragma once

#include <QSize>
#include <QString>
#include <array>
#include <cstdint>

class Reporter;

// The patch as fractions of the displayed picture (0 left/top, 1 right/bottom).
// Rectangle: two opposite corners. Circle: centre (X0, Y0) and a point on it.
struct PatchGeometry {
    double PatchX0 = 0, PatchY0 = 0, PatchX1 = 0, PatchY1 = 0;
    int16_t AnchoMostrado = 0, AltoMostrado = 0;  // displayed picture size in pixels
};

// The picture's displayed size inside a box, keeping its aspect ratio.
QSize tamanoMostrado(int boxWidth, int boxHeight, int width, int height);

// A pointer coordinate as a fraction 0..1 of the displayed size.
float CorrectX(float x, const PatchGeometry& g);
float CorrectY(float y, const PatchGeometry& g);

// A fraction as the read-out shows it: percent with at most one decimal.
QString lecturaCoordenada(double fraction);

// The outline as drawn on the displayed picture, in its pixels.
struct PatchOutline {
    int cx = 0, cy = 0;                            // centre mark
    int left = 0, top = 0, width = 0, height = 0;  // rectangle
    int radius = 0;                                // circle
};
PatchOutline contornoParche(const PatchGeometry& g, bool cuadrado);

// Switches the first point between a rectangle's corner and a circle's centre.
void alternarForma(PatchGeometry& g, bool eraCuadrado);

// Averages the neutral development of `ruta` over the patch's unclipped pixels
// and writes the multipliers that make it neutral into `txtWB` (R, G, B).
// Returns 1 when written, -1 otherwise (reported).
int CalcularWBPatch(const QString& ruta, const PatchGeometry& g, bool cuadrado,
                    std::array<QString, 3>& txtWB, Reporter& reporter);
