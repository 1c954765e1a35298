// Path, text and number helpers, the status-log rule and the error report.
#include "support/errors.h"
#include "support/numbers.h"
#include "support/paths.h"
#include "support/recording_reporter.h"
#include "tests/common/test_images.h"
#include "pipeline/calc_ev.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(PathsTest, SplitsPathsFromTheEnd) {
    EXPECT_EQ(QuitarExtension("/a/b.tiff"), "/a/b");
    EXPECT_EQ(QuitarExtension("x.y.z"), "x.y");
    EXPECT_EQ(QuitarExtension("/my.dir/file"), "/my");  // a folder's dot counts
    EXPECT_EQ(ExtensionArchivo("/a/b.tiff"), "tiff");
    EXPECT_EQ(ExtensionArchivo("/a/b."), "");
    EXPECT_EQ(NombreArchivo("/a/b.tiff"), "b.tiff");
    EXPECT_EQ(NombreArchivo("/a/"), "");
    EXPECT_EQ(CarpetaArchivo("/a/b.tiff"), "/a/");
    EXPECT_EQ(CarpetaArchivo("/b.tiff"), "/");
}

TEST(PathsTest, TextsWithoutDotOrSlashAreInvalidArguments) {
    EXPECT_THROW(QuitarExtension("/a/b"), std::invalid_argument);
    EXPECT_THROW(ExtensionArchivo("noext"), std::invalid_argument);
    EXPECT_THROW(NombreArchivo("b.tiff"), std::invalid_argument);
    EXPECT_THROW(CarpetaArchivo("b.tiff"), std::invalid_argument);
    // Reported through the caller's trap as a bad argument.
    try {
        NombreArchivo("b.tiff");
    } catch (...) {
        EXPECT_EQ(describeException(std::current_exception()).number, kErrInvalidArgument);
    }
}

TEST(PathsTest, ExisteArchivoSeesOnlyPlainVisibleFiles) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("a.cr2"), "x");
    writeBytes(dir.filePath(".hidden.cr2"), "x");
    writeBytes(dir.filePath("star*.cr2"), "x");
    QDir(dir.path()).mkdir("sub.cr2");
    EXPECT_TRUE(ExisteArchivo(dir.filePath("a.cr2")));
    EXPECT_FALSE(ExisteArchivo(dir.filePath("A.CR2")));
    EXPECT_FALSE(ExisteArchivo(dir.filePath(".hidden.cr2")));
    EXPECT_FALSE(ExisteArchivo(dir.filePath("sub.cr2")));
    EXPECT_FALSE(ExisteArchivo(dir.filePath("*.cr2")));  // no wildcard expansion
    EXPECT_TRUE(ExisteArchivo(dir.filePath("star*.cr2")));
    EXPECT_FALSE(ExisteArchivo(""));
    EXPECT_FALSE(ExisteArchivo(dir.path() + "/"));
}

TEST(TextTest, ReemplazarTodoRescansFromTheStart) {
    EXPECT_EQ(ReemplazarTodo("a    b", "  ", " "), "a b");
    EXPECT_EQ(ReemplazarTodo("2,5 1 1,25", ",", "."), "2.5 1 1.25");
    EXPECT_EQ(ReemplazarTodo("abc", "", "x"), "abc");
    EXPECT_THROW(ReemplazarTodo("aa", "a", "aa"), std::invalid_argument);
}

TEST(TextTest, MinMaxAndLowByte) {
    EXPECT_EQ(MinimoReal(1.5, -2), -2);
    EXPECT_EQ(MaximoReal(1.5, -2), 1.5);
    EXPECT_EQ(MinimoEntero(3, 3), 3);
    EXPECT_EQ(MaximoEntero(-7, 2), 2);
    EXPECT_EQ(ByteBajo(0x123456), 0x56);
    EXPECT_EQ(ByteBajo(255 + 256 * 20 + 65536 * 20), 255);
}

TEST(NumbersTest, RoundsHalvesToEven) {
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(0.5), 0);
    EXPECT_EQ(roundHalfEven(2.5000001), 3);
    EXPECT_EQ(roundToInt(58981.5), 58982);
    EXPECT_EQ(roundToInt(1234.5), 1234);
}

TEST(NumbersTest, ShortestDecimal) {
    const QLocale c = QLocale::c();
    EXPECT_EQ(shortestDecimal(2.132483, c), "2.132483");
    EXPECT_EQ(shortestDecimal(1.0, c), "1");
    EXPECT_EQ(shortestDecimal(1.50, c), "1.5");
    EXPECT_EQ(shortestDecimal(13823, c), "13823");
    EXPECT_EQ(shortestDecimal(-0.0, c), "0");
    EXPECT_EQ(shortestDecimal(0.1 + 0.2, c), "0.3");  // 15 digits hide the binary error
    EXPECT_EQ(shortestDecimal(1333.3333333333333, c), "1333.33333333333");
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(shortestDecimal(2.132483, german), "2,132483");
    EXPECT_EQ(shortestDecimal(13823, german), "13823");  // no group separator
    EXPECT_EQ(decimalForCommand(1.333), "1.333");
}

TEST(NumbersTest, SignedFixedDecimals) {
    const QLocale c = QLocale::c();
    EXPECT_EQ(signedFixed(3.374, 2, c), "+3.37");
    EXPECT_EQ(signedFixed(-2.15, 2, c), "-2.15");
    EXPECT_EQ(signedFixed(0.2104, 3, c), "+0.210");
    EXPECT_EQ(signedFixed(-0.004, 2, c), "+0.00");  // never "-0.00"
    EXPECT_EQ(signedFixed(0.125, 2, c), "+0.12");   // halves to even
    EXPECT_EQ(signedFixed(1234.5, 2, c), "+1234.50");
    EXPECT_EQ(signedFixed(-3.37, 2, QLocale(QLocale::German, QLocale::Germany)), "-3,37");
}

TEST(NumbersTest, ParsesTheUsersNumbers) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(parseUserNumber("1,5", german), 1.5);
    EXPECT_EQ(parseUserNumber("1.5", german), 1.5);  // the point form is accepted too
    EXPECT_EQ(parseUserNumber(" 01 ", QLocale::c()), 1.0);
    EXPECT_EQ(parseUserNumber("-3", QLocale::c()), -3.0);
    EXPECT_FALSE(parseUserNumber("abc", QLocale::c()));
    EXPECT_FALSE(parseUserNumber("", QLocale::c()));
    EXPECT_FALSE(parseUserNumber("1,000", QLocale::c()));
    EXPECT_FALSE(parseUserNumber("inf", QLocale::c()));
}

TEST(NumbersTest, TimeStamp) {
    EXPECT_EQ(timeStampHHMMSS(QTime(7, 5, 9)), "070509");
    EXPECT_EQ(timeStampHHMMSS(QTime(23, 59, 0)), "235900");
}

TEST(ReporterTest, StatusLogAppendsAndRestarts) {
    RecordingReporter rep;
    rep.EscribirEstado("first", false);
    rep.EscribirEstado("second", true);
    rep.EscribirEstado("", true);
    EXPECT_EQ(rep.log, "first\r\nsecond\r\n\r\n");
    rep.EscribirEstado("fresh", false);
    EXPECT_EQ(rep.log, "fresh\r\n");
    EXPECT_EQ(rep.eventPumps, 4);  // every line lets the window catch up
}

TEST(ReporterTest, UnexpectedErrorReportShowsThreeLinesAndResetsTheLog) {
    RecordingReporter rep;
    rep.EscribirEstado("working...", false);
    try {
        throw RunError(kErrFileNotFound, "File not found");
    } catch (...) {
        rep.InformarError("CargarTIFFs");
    }
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].title, "ERROR");
    const QStringList lines = rep.boxes[0].text.split("\r\n");
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "Unexpected error occurred in module CargarTIFFs ");
    EXPECT_EQ(lines[1], "Error number 53, described as 'File not found'");
    EXPECT_TRUE(lines[2].startsWith("Please report giving all possible details to: "));
    EXPECT_TRUE(lines[2].contains("orrindale"));
    EXPECT_EQ(rep.log, "An unexpected error occurred\r\n");
}

TEST(ReporterTest, StandardFailuresGetTheirNumbers) {
    auto numberOf = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return describeException(std::current_exception()).number;
        }
        return -1;
    };
    EXPECT_EQ(numberOf([] { throw std::bad_alloc(); }), kErrOutOfMemory);
    EXPECT_EQ(numberOf([] { throw std::out_of_range("x"); }), kErrOutOfRange);
    EXPECT_EQ(numberOf([] { throw std::runtime_error("x"); }), kErrGeneric);
    EXPECT_EQ(describeException(nullptr).number, 0);
}

}  // namespace
