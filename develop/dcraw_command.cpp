// Building the dcraw command line from the development settings.
#include "develop/dcraw_command.h"

#include "support/numbers.h"
#include "support/paths.h"
#include "support/reporter.h"

#include <QProcess>
#include <cmath>

QStringList opcionesDCRAW(const DevelopSettings& s, bool rapido, bool neutro) {
    QStringList o{QStringLiteral("-v"), QStringLiteral("-4"), QStringLiteral("-T")};
    if (neutro) {
        o << QStringLiteral("-r") << QStringLiteral("1") << QStringLiteral("1")
          << QStringLiteral("1") << QStringLiteral("1");
    } else if (s.modoWB == kWBCamara) {
        o << QStringLiteral("-w");
    } else {
        o << QStringLiteral("-r");
        // Red, green, blue, green. A box holds what the user typed until it
        // loses the focus: its words count as the line would split them, and
        // a decimal comma becomes the point dcraw wants.
        for (size_t c : {0, 1, 2, 1})
            for (const QString& word : QProcess::splitCommand(s.txtWB[c]))
                o << ReemplazarTodo(word, QStringLiteral(","), QStringLiteral("."));
    }
    if (!s.txtSat.isEmpty()) o << QStringLiteral("-S") << s.txtSat;
    o << QStringLiteral("-q") << QString::number(s.calidad);
    o << QStringLiteral("-o") << (neutro ? QStringLiteral("0") : QString::number(s.perfil));
    if (s.headroom) o << QStringLiteral("-H") << QStringLiteral("1");
    if (rapido) o << QStringLiteral("-t") << QStringLiteral("0") << QStringLiteral("-h");
    return o + QProcess::splitCommand(s.txtDCRAW);
}

QString ConstruirComandoDCRAW(const DevelopSettings& s, bool rapido, bool neutro,
                              const Decoder& decoder) {
    return decoder.commandLine(opcionesDCRAW(s, rapido, neutro));
}

QString ConstruirComandoDCRAW(const DevelopSettings& s, bool rapido, bool neutro,
                              const QString& rutaDCRAW) {
    return ConstruirComandoDCRAW(s, rapido, neutro, Decoder::dcraw(rutaDCRAW));
}

QString pathForCommandLine(const QString& path) {
    return path.contains(QLatin1Char(' ')) ? QLatin1Char('"') + path + QLatin1Char('"') : path;
}

QStringList dcrawArguments(const QString& line, const QString& rutaDCRAW) {
    const QString options = line.startsWith(rutaDCRAW) ? line.mid(rutaDCRAW.size()) : line;
    return QProcess::splitCommand(options);
}

void AvisarLongitudComando(int exceso, Reporter& reporter) {
    reporter.EscribirEstado(QStringLiteral("\r\nMax DCRAW command line length exceeded"), true);
    reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.MostrarError(QStringLiteral("Max DCRAW command line total length exceeded by ") +
                          QString::number(exceso) + QStringLiteral(" chars\r\n") +
                          QStringLiteral("Reduce pathname and/or filename lengths"));
}

bool presetWB(int index, std::array<QString, 3>& out) {
    static const double table[8][2] = {
        {1, 1},
        {2.395443, 1.253807},
        {2.132483, 1.480864},
        {2.336605, 1.334642},
        {2.531894, 1.223749},
        {1.392498, 2.375114},
        {1.78344, 1.997113},
        {2.429833, 1.284593},
    };
    if (index < 0 || index > 7) return false;
    out[0] = shortestDecimal(table[index][0]);
    out[1] = QStringLiteral("1");
    out[2] = shortestDecimal(table[index][1]);
    return true;
}

SatPresetEffect presetSaturacion(int index, QString& value) {
    static const int table[] = {3398, 13823, 13432, 15299, 3648};
    if (index == 0) {
        value.clear();
        return SatPresetEffect::Clear;
    }
    if (index >= 2 && index <= 6) {
        value = QString::number(table[index - 2]);
        return SatPresetEffect::Set;
    }
    return SatPresetEffect::Keep;
}

int gammaParaPerfil(int perfil) {
    if (perfil == 4) return 18;  // ProPhoto RGB
    if (perfil == 5) return 10;  // CIE XYZ is linear
    return 22;
}

QString soloDigitos(const QString& text) {
    QString digits;
    for (QChar c : text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) digits += c;
    return digits;
}

QString comprimirOpciones(const QString& text) {
    return ReemplazarTodo(text, QStringLiteral("  "), QStringLiteral(" ")).trimmed();
}

QString comprobarMultiplicador(const QString& text) {
    const auto v = parseUserNumber(text);
    return v ? shortestDecimal(*v) : QStringLiteral("1");
}

QString redondearSaturacion(const QString& text) {
    const auto v = parseUserNumber(text);
    if (!v) return QString();
    // The box holds digits only, so no sign or exponent can get here; the
    // bound keeps a pasted huge number from overflowing.
    if (std::fabs(*v) > 1e15) return QString();
    return QString::number(roundToInt(*v));
}

QStringList itemsWB() {
    return {QStringLiteral("None"),     QStringLiteral("Default (D65)"),
            QStringLiteral("Daylight"), QStringLiteral("Cloudy"),
            QStringLiteral("Shade"),    QStringLiteral("Tungsten"),
            QStringLiteral("Fluorescent"), QStringLiteral("Flash")};
}

QStringList itemsSaturacion() {
    return {QStringLiteral("DCRAW value"),      QStringLiteral("User value"),
            QStringLiteral("Canon 30D"),        QStringLiteral("Canon 40D"),
            QStringLiteral("Canon 50D"),        QStringLiteral("Canon 7D ISO1600"),
            QStringLiteral("Olympus E-510")};
}

QStringList itemsCalidad() {
    return {QStringLiteral("Bilinear"), QStringLiteral("VNG"), QStringLiteral("PPG"),
            QStringLiteral("AHD")};
}

QStringList itemsPerfil() {
    return {QStringLiteral("None"),       QStringLiteral("sRGB"),
            QStringLiteral("Adobe RGB"),  QStringLiteral("Wide Gamut"),
            QStringLiteral("ProPhoto RGB"), QStringLiteral("CIE XYZ")};
}
