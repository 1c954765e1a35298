// The batch program's options: the window's defaults, each option's effect on
// the settings, and every kind of usage error.
#include "batch/batch_options.h"
#include "tests/common/qt_printers.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

class BatchOptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        raw = dir.path() + "/IMG_1.CR2";
        QFile f(raw);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("raw");
    }
    ParsedOptions parse(QStringList args) {
        args << raw;
        return parseBatchOptions(args);
    }
    QString errorOf(QStringList args) {
        const ParsedOptions p = parse(std::move(args));
        EXPECT_FALSE(p.options.has_value());
        return p.error;
    }

    QTemporaryDir dir;
    QString raw;
};

TEST_F(BatchOptionsTest, DefaultsAreTheWindowsAtStartUp) {
    const ParsedOptions p = parse({});
    ASSERT_TRUE(p.options) << p.error.toStdString();
    const BatchOptions& o = *p.options;
    EXPECT_EQ(o.develop.modoWB, kWBPreset);
    EXPECT_EQ(o.develop.txtWB[0], "2.132483");
    EXPECT_EQ(o.develop.txtWB[2], "1.480864");
    EXPECT_EQ(o.develop.txtSat, "");
    EXPECT_EQ(o.develop.calidad, 3);
    EXPECT_EQ(o.develop.perfil, 1);
    EXPECT_FALSE(o.hlRecovery);
    EXPECT_FALSE(o.metodoMedia);
    EXPECT_FALSE(o.align.alinear);
    EXPECT_EQ(o.map.umbral, 90);
    EXPECT_EQ(o.map.antiGhost, 0);
    EXPECT_EQ(o.map.progressive, 3);
    EXPECT_FALSE(o.map.balanceCamara);
    EXPECT_EQ(o.map.txtWB, o.develop.txtWB);  // thresholds from the development's multipliers
    EXPECT_FALSE(o.blend.blancoNegro);
    EXPECT_TRUE(o.blend.merge == BlendMerge::Select);
    EXPECT_EQ(o.blend.gamma, 22);
    EXPECT_EQ(o.blend.pesoRojo, 33);
    EXPECT_EQ(o.blend.pesoAzul, 33);
    EXPECT_EQ(o.blend.numBracketing, 1);
    EXPECT_EQ(o.blend.evBracketing, 2);
    EXPECT_EQ(o.blend.perfil, "sRGB");
    EXPECT_EQ(o.references, QStringList{raw});
}

TEST_F(BatchOptionsTest, EveryOptionReachesItsSetting) {
    const ParsedOptions p =
        parse({"--wb", "2.5,1,1.25", "--saturation", "15000", "--quality", "vng", "--profile",
               "ProPhoto RGB", "--hl", "--dcraw-options", "-n   100  -b 1.2", "--method", "average",
               "--threshold", "99", "--anti-ghost", "50", "--progressive", "0", "--bw", "80", "20",
               "--ettr", "--brackets", "7", "--step", "4", "--contact-sheet", "--no-develop",
               "--align", "--merge", "Weighted"});
    ASSERT_TRUE(p.options) << p.error.toStdString();
    const BatchOptions& o = *p.options;
    EXPECT_EQ(o.develop.modoWB, kWBCoefs);
    EXPECT_EQ(o.develop.txtWB, (std::array<QString, 3>{"2.5", "1", "1.25"}));
    EXPECT_EQ(o.map.txtWB, o.develop.txtWB);
    EXPECT_EQ(o.develop.txtSat, "15000");
    EXPECT_EQ(o.develop.calidad, 1);
    EXPECT_EQ(o.develop.perfil, 4);
    EXPECT_EQ(o.blend.gamma, 18);  // ProPhoto's gamma, as choosing it in the window does
    EXPECT_EQ(o.blend.perfil, "ProPhoto RGB");
    EXPECT_TRUE(o.hlRecovery);
    EXPECT_EQ(o.develop.txtDCRAW, "-n 100 -b 1.2");
    EXPECT_TRUE(o.metodoMedia);
    EXPECT_EQ(o.map.umbral, 99);
    EXPECT_EQ(o.map.antiGhost, 50);
    EXPECT_EQ(o.map.progressive, 0);
    EXPECT_TRUE(o.blend.blancoNegro);
    EXPECT_EQ(o.blend.pesoRojo, 80);
    EXPECT_EQ(o.blend.pesoAzul, 20);
    EXPECT_TRUE(o.blend.ettr);
    EXPECT_TRUE(o.blend.merge == BlendMerge::Weighted);
    EXPECT_EQ(o.blend.numBracketing, 7);
    EXPECT_EQ(o.blend.evBracketing, 4);
    EXPECT_TRUE(o.contactSheet);
    EXPECT_TRUE(o.noDevelop);
    EXPECT_TRUE(o.align.alinear);

    const ParsedOptions camera = parse({"--wb", "camera", "--gamma", "1.0", "--profile", "adobe rgb"});
    ASSERT_TRUE(camera.options);
    EXPECT_EQ(camera.options->develop.modoWB, kWBCamara);
    EXPECT_TRUE(camera.options->map.balanceCamara);
    EXPECT_EQ(camera.options->blend.gamma, 10);  // --gamma wins over the profile's
    EXPECT_EQ(camera.options->blend.perfil, "Adobe RGB");
    const ParsedOptions preset = parse({"--wb", "preset:Tungsten", "--gamma", "2.7"});
    ASSERT_TRUE(preset.options);
    EXPECT_EQ(preset.options->develop.modoWB, kWBPreset);
    EXPECT_NE(preset.options->develop.txtWB[0], "2.132483");
    EXPECT_EQ(preset.options->blend.gamma, 27);
}

TEST_F(BatchOptionsTest, UsageErrorsNameTheBadOption) {
    EXPECT_TRUE(errorOf({"--frobnicate"}).contains("--frobnicate"));
    EXPECT_TRUE(errorOf({"--threshold", "100"}).contains("--threshold"));
    EXPECT_TRUE(errorOf({"--threshold"}).contains("--threshold"));
    EXPECT_TRUE(errorOf({"--anti-ghost", "-1"}).contains("--anti-ghost"));
    EXPECT_TRUE(errorOf({"--progressive", "51"}).contains("--progressive"));
    EXPECT_TRUE(errorOf({"--brackets", "8"}).contains("--brackets"));
    EXPECT_TRUE(errorOf({"--step", "0"}).contains("--step"));
    EXPECT_TRUE(errorOf({"--gamma", "3.1"}).contains("--gamma"));
    EXPECT_TRUE(errorOf({"--gamma", "2.25"}).contains("--gamma"));
    EXPECT_TRUE(errorOf({"--gamma", "abc"}).contains("--gamma"));
    EXPECT_TRUE(errorOf({"--bw", "60", "50"}).contains("--bw"));
    EXPECT_TRUE(errorOf({"--bw", "60"}).contains("--bw"));
    EXPECT_TRUE(errorOf({"--wb", "1,2"}).contains("--wb"));
    EXPECT_TRUE(errorOf({"--wb", "1,x,2"}).contains("--wb"));
    EXPECT_TRUE(errorOf({"--wb", "preset:Moonlight"}).contains("--wb"));
    EXPECT_TRUE(errorOf({"--quality", "best"}).contains("--quality"));
    EXPECT_TRUE(errorOf({"--profile", "Rec2020"}).contains("--profile"));
    EXPECT_TRUE(errorOf({"--method", "mode"}).contains("--method"));
    EXPECT_TRUE(errorOf({"--merge", "average"}).contains("--merge"));
    EXPECT_TRUE(errorOf({"--map", dir.path() + "/none.png"}).contains("--map"));
    EXPECT_TRUE(errorOf({dir.path() + "/missing.CR2"}).contains("missing.CR2"));
    const ParsedOptions none = parseBatchOptions({});
    EXPECT_FALSE(none.options);
    EXPECT_TRUE(none.error.contains("no RAW file"));
    const ParsedOptions help = parseBatchOptions({"--help"});
    ASSERT_TRUE(help.options);
    EXPECT_TRUE(help.options->help);
}

}  // namespace
