// Number formatting and parsing rules.
#include "support/numbers.h"

#include <cmath>

double roundHalfEven(double v) {
    // nearbyint follows the current rounding mode, which the program never
    // changes from round-to-nearest-even.
    return std::nearbyint(v);
}

QString shortestDecimal(double v, const QLocale& locale) {
    if (v == 0.0) v = 0.0;  // -0.0 compares equal to 0: drop its sign
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l.toString(v, 'g', 15);
}

QString signedFixed(double v, int decimals, const QLocale& locale) {
    const double scale = std::pow(10.0, decimals);
    double rounded = roundHalfEven(v * scale) / scale;
    if (rounded == 0.0) rounded = 0.0;  // a tiny negative value shows as +0
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    const QString digits = l.toString(std::fabs(rounded), 'f', decimals);
    return (rounded < 0 ? QStringLiteral("-") : QStringLiteral("+")) + digits;
}

std::optional<double> parseUserNumber(const QString& text, const QLocale& locale) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    QLocale l = locale;
    l.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    double v = l.toDouble(t, &ok);
    if (!ok) {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::RejectGroupSeparator);
        v = c.toDouble(t, &ok);
    }
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

QString timeStampHHMMSS(const QTime& time) { return time.toString(QStringLiteral("HHmmss")); }
