// Rounding, number text and time stamps: one rule each for the whole program.
#pragma once

#include <QLocale>
#include <QString>
#include <QTime>
#include <optional>

// Nearest integer, exact halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double v);
inline long long roundToInt(double v) { return static_cast<long long>(roundHalfEven(v)); }

// The locale defaults to QLocale(), the system locale unless a test pins
// another with QLocale::setDefault.
// Shortest decimal text: at most 15 significant digits, no trailing zeros, no
// separator for whole numbers, never "-0". Uses the locale's decimal separator
// and no group separators.
QString shortestDecimal(double v, const QLocale& locale = QLocale());
// The same with "." whatever the locale: for file names and command lines.
inline QString decimalForCommand(double v) { return shortestDecimal(v, QLocale::c()); }

// Fixed decimals with a sign always shown: "+3.37", "-0.210", "+0.00" (never
// "-0.00"). Rounded halves to even; the locale's decimal separator.
QString signedFixed(double v, int decimals, const QLocale& locale = QLocale());

// Reads a number typed by the user: the locale's own form first, then the
// "." form, so a user in a comma locale may type either. Blanks around it are
// allowed; anything else makes it not a number.
std::optional<double> parseUserNumber(const QString& text, const QLocale& locale = QLocale());

// Time of day as "hhmmss", hours 00..23.
QString timeStampHHMMSS(const QTime& time = QTime::currentTime());
