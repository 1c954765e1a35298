// The dcraw command line from the settings, its argument vector, the
// settings-box rules and the length report.
#include "develop/dcraw_command.h"
#include "support/recording_reporter.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

DevelopSettings defaults() {
    DevelopSettings s;
    s.modoWB = kWBPreset;
    presetWB(2, s.txtWB);
    return s;
}

class LocaleScope {
public:
    explicit LocaleScope(const QLocale& l) { QLocale::setDefault(l); }
    ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
};

TEST(DcrawCommandTest, DefaultQuickLine) {
    LocaleScope c(QLocale::c());
    EXPECT_EQ(ConstruirComandoDCRAW(defaults(), true, false),
              "/usr/bin/dcraw -v -4 -T -r 2.132483 1 1.480864 1 -q 3 -o 1 -t 0 -h");
    EXPECT_EQ(ConstruirComandoDCRAW(defaults(), false, false),
              "/usr/bin/dcraw -v -4 -T -r 2.132483 1 1.480864 1 -q 3 -o 1");
    EXPECT_EQ(ConstruirComandoDCRAW(defaults(), true, true),
              "/usr/bin/dcraw -v -4 -T -r 1 1 1 1 -q 3 -o 0 -t 0 -h");
}

TEST(DcrawCommandTest, WhiteBalancePieces) {
    LocaleScope c(QLocale::c());
    DevelopSettings s = defaults();
    s.modoWB = kWBCamara;
    EXPECT_EQ(ConstruirComandoDCRAW(s, true, false),
              "/usr/bin/dcraw -v -4 -T -w -q 3 -o 1 -t 0 -h");
    s.modoWB = kWBCoefs;
    s.txtWB = {"2", "1", "1.5"};
    EXPECT_TRUE(ConstruirComandoDCRAW(s, true, false).contains(" -r 2 1 1.5 1 -q"));
    // Commas typed in a comma locale become points; only in the WB piece.
    s.txtWB = {"2,5", "1", "1,25"};
    s.txtDCRAW = "-b 1,5";
    EXPECT_TRUE(ConstruirComandoDCRAW(s, true, false).contains(" -r 2.5 1 1.25 1 -q"));
    EXPECT_TRUE(ConstruirComandoDCRAW(s, true, false).endsWith(" -b 1,5"));
    // The "None" preset is exactly the neutral piece.
    DevelopSettings none = defaults();
    presetWB(0, none.txtWB);
    none.perfil = 0;
    EXPECT_EQ(ConstruirComandoDCRAW(none, true, false), ConstruirComandoDCRAW(none, true, true));
}

TEST(DcrawCommandTest, SaturationQualityProfileAndExtras) {
    LocaleScope c(QLocale::c());
    DevelopSettings s = defaults();
    QString value;
    EXPECT_EQ(presetSaturacion(3, value), SatPresetEffect::Set);
    s.txtSat = value;
    s.calidad = 1;
    s.perfil = 4;
    s.txtDCRAW = comprimirOpciones("  -n   100 ");
    EXPECT_EQ(ConstruirComandoDCRAW(s, true, false),
              "/usr/bin/dcraw -v -4 -T -r 2.132483 1 1.480864 1 -S 13823 -q 1 -o 4 -t 0 -h -n 100");
    EXPECT_EQ(presetSaturacion(0, value), SatPresetEffect::Clear);
    EXPECT_EQ(value, "");
    value = "777";
    EXPECT_EQ(presetSaturacion(1, value), SatPresetEffect::Keep);
    EXPECT_EQ(value, "777");
    for (auto [index, expected] : {std::pair{2, "3398"}, {4, "13432"}, {5, "15299"}, {6, "3648"}}) {
        presetSaturacion(index, value);
        EXPECT_EQ(value, expected);
    }
    EXPECT_EQ(gammaParaPerfil(4), 18);
    EXPECT_EQ(gammaParaPerfil(5), 10);
    EXPECT_EQ(gammaParaPerfil(1), 22);
    EXPECT_EQ(gammaParaPerfil(0), 22);
}

TEST(DcrawCommandTest, ArgumentsAreTheLineSplitWithoutAShell) {
    LocaleScope c(QLocale::c());
    DevelopSettings s = defaults();
    s.txtDCRAW = "-n 100 \"$(echo x)\"";
    const QStringList args = dcrawArguments(ConstruirComandoDCRAW(s, true, false));
    EXPECT_EQ(args, (QStringList{"-v", "-4", "-T", "-r", "2.132483", "1", "1.480864", "1", "-q",
                                 "3", "-o", "1", "-t", "0", "-h", "-n", "100", "$(echo x)"}));
    EXPECT_EQ(pathForCommandLine("/a b/c.CR2"), "\"/a b/c.CR2\"");
    EXPECT_EQ(pathForCommandLine("/ab/c;d$(x).CR2"), "/ab/c;d$(x).CR2");
}

TEST(DcrawCommandTest, PresetsFollowTheLocale) {
    std::array<QString, 3> t;
    {
        LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
        ASSERT_TRUE(presetWB(7, t));
        EXPECT_EQ(t[0], "2,429833");
        EXPECT_EQ(t[1], "1");
        EXPECT_EQ(t[2], "1,284593");
    }
    LocaleScope c(QLocale::c());
    ASSERT_TRUE(presetWB(6, t));
    EXPECT_EQ(t[0], "1.78344");
    EXPECT_FALSE(presetWB(8, t));
    EXPECT_FALSE(presetWB(-1, t));
}

TEST(DcrawCommandTest, SettingsBoxRules) {
    LocaleScope c(QLocale::c());
    EXPECT_EQ(soloDigitos("12a3"), "123");
    EXPECT_EQ(soloDigitos("-4.5e"), "45");
    EXPECT_EQ(comprimirOpciones("  -n   100 "), "-n 100");
    EXPECT_EQ(comprimirOpciones(""), "");
    EXPECT_EQ(comprobarMultiplicador("1.50"), "1.5");
    EXPECT_EQ(comprobarMultiplicador("01"), "1");
    EXPECT_EQ(comprobarMultiplicador("abc"), "1");
    EXPECT_EQ(comprobarMultiplicador(""), "1");
    EXPECT_EQ(comprobarMultiplicador("-2"), "-2");  // no range is enforced
    EXPECT_EQ(comprobarMultiplicador("0"), "0");
    EXPECT_EQ(redondearSaturacion("0012"), "12");
    EXPECT_EQ(redondearSaturacion(""), "");
    EXPECT_EQ(redondearSaturacion("99999999999999999999"), "");
}

TEST(DcrawCommandTest, LengthReport) {
    RecordingReporter rep;
    rep.EscribirEstado("Quick developing x...", false);
    AvisarLongitudComando(1, rep);
    EXPECT_EQ(rep.logLines(), (QStringList{"Quick developing x...", "",
                                           "Max DCRAW command line length exceeded", "DONE"}));
    ASSERT_EQ(rep.boxes.size(), 1u);
    EXPECT_EQ(rep.boxes[0].title, "ERROR");
    EXPECT_EQ(rep.boxes[0].text,
              "Max DCRAW command line total length exceeded by 1 chars\r\nReduce pathname and/or "
              "filename lengths");
}

}  // namespace
