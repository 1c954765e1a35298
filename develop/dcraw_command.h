// Development settings and the decoder options they produce: the argument
// vector the process is really started with (no shell ever sees it), and the
// string form made from it, shown to the user and measured against the
// length limit.
#pragma once

#include "develop/decoder.h"

#include <QString>
#include <QStringList>
#include <array>

class Reporter;

// Longest complete command line that may be started.
constexpr int kLongitudMaximaComando = 134;

// White-balance modes, the option buttons' indexes.
enum ModoWB { kWBCamara = 0, kWBCoefs = 1, kWBPreset = 2, kWBParche = 3, kWBTempTint = 4 };

// The settings as read from the controls at the moment a line is built.
struct DevelopSettings {
    int modoWB = kWBPreset;
    std::array<QString, 3> txtWB{QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1")};
    QString txtSat;
    int calidad = 3;  // cmbQuality index
    int perfil = 1;   // cmbProfile index
    QString txtDCRAW;
    // Every channel scaled by the largest multiplier instead of clipped after
    // its own (-H 1), so none clips before the sensor does.
    bool headroom = false;
};

// The decoder options of a run, in order: "-v -4 -T", the white balance, the
// saturation, "-q", "-o", "-H 1" for headroom, the quick-run options and the
// user's extra options
// (split as a command line reads, double quotes grouping words).
QStringList opcionesDCRAW(const DevelopSettings& settings, bool rapido, bool neutro);

// The command line without file names, beginning with the decoder path.
QString ConstruirComandoDCRAW(const DevelopSettings& settings, bool rapido, bool neutro,
                              const QString& rutaDCRAW = RutaDCRAW);
QString ConstruirComandoDCRAW(const DevelopSettings& settings, bool rapido, bool neutro,
                              const Decoder& decoder);

// A path as written in the shown line: in double quotes when it holds a blank.
QString pathForCommandLine(const QString& path);

// The arguments of a shown line (everything after the decoder path), split as
// the line reads, quotes grouping words: the inverse of the string form.
QStringList dcrawArguments(const QString& line, const QString& rutaDCRAW = RutaDCRAW);

// Reports a complete line that is `exceso` characters over the limit.
void AvisarLongitudComando(int exceso, Reporter& reporter);

// White-balance presets: texts for txtWB(0..2), red and blue as the shortest
// decimal of their constants in the given locale. Out-of-range index: none.
bool presetWB(int index, std::array<QString, 3>& out);
// Saturation presets: index 0 clears, 1 keeps, 2..6 set a value.
enum class SatPresetEffect { Clear, Keep, Set };
SatPresetEffect presetSaturacion(int index, QString& value);
// Output gamma slider value (tenths) for a colour profile.
int gammaParaPerfil(int perfil);

// Rules of the settings boxes.
QString soloDigitos(const QString& text);          // keeps "0".."9"
QString comprimirOpciones(const QString& text);    // runs of blanks -> one, trimmed
QString comprobarMultiplicador(const QString& text);  // number as shortest decimal, else "1"
QString redondearSaturacion(const QString& text);  // whole number (halves to even), else ""

// Item texts of the four lists, in index order.
QStringList itemsWB();
QStringList itemsSaturacion();
QStringList itemsCalidad();
QStringList itemsPerfil();
