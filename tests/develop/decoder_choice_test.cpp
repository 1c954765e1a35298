// The decoder of a set, chosen with stand-in decoders: which one, what the
// log says, and what each decoder is asked to identify.
#include "develop/decoder_choice.h"

#include "develop/dcraw_process.h"
#include "pipeline/full_development.h"
#include "pipeline/image_set.h"
#include "support/recording_reporter.h"
#include "tests/common/fake_decoder.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>

namespace {

class DecoderChoiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"a.CR3", "b.CR3", "c.CR3"}) {
            writeBytes(dir.filePath(name), "raw");
            raws << dir.filePath(name);
        }
        // Stand-ins for the programs: only their presence is looked at.
        writeBytes(paths.dcraw = dir.filePath("dcraw"), "");
        writeBytes(paths.libRaw = dir.filePath("dcraw_emu"), "");
    }
    QTemporaryDir dir;
    QStringList raws;
    DecoderPaths paths;
    FakeDecoder fake;
    RecordingReporter reporter;
};

TEST_F(DecoderChoiceTest, SettingsAndWhatEachFileReads) {
    using O = DecoderChoice::Outcome;
    using S = DecoderSetting;
    const struct Case {
        S setting;
        QStringList dcrawCannot, libRawCannot;
        bool libRawInstalled;
        O outcome;
        DecoderKind kind;
        QStringList log;
    } cases[] = {
        {S::Automatic, {}, {}, true, O::Ready, DecoderKind::Dcraw, {}},
        // One file is enough for the whole set to go to LibRaw.
        {S::Automatic, {"b.CR3", "c.CR3"}, {}, true, O::Ready, DecoderKind::LibRaw,
         {"dcraw cannot read b.CR3: developing with LibRaw"}},
        // A file neither reads: dcraw, whose message says what is wrong.
        {S::Automatic, {"b.CR3"}, {"b.CR3"}, true, O::Ready, DecoderKind::Dcraw, {}},
        {S::Automatic, {"c.CR3"}, {}, false, O::LibRawMissing, DecoderKind::Dcraw,
         {"LibRaw (dcraw_emu, Debian package libraw-bin) is needed for c.CR3", "DONE"}},
        {S::Dcraw, {"a.CR3"}, {}, true, O::Ready, DecoderKind::Dcraw, {"Developing with dcraw"}},
        {S::LibRaw, {}, {}, true, O::Ready, DecoderKind::LibRaw, {"Developing with LibRaw"}},
        {S::LibRaw, {}, {}, false, O::LibRawMissing, DecoderKind::LibRaw,
         {"LibRaw (dcraw_emu, Debian package libraw-bin) is needed for a.CR3", "DONE"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log.join(" / ").toStdString());
        FakeDecoder decoder;
        decoder.dcrawCannotRead = QSet<QString>(c.dcrawCannot.begin(), c.dcrawCannot.end());
        decoder.libRawCannotRead = QSet<QString>(c.libRawCannot.begin(), c.libRawCannot.end());
        DecoderPaths p = paths;
        if (!c.libRawInstalled) p.libRaw = dir.filePath("missing/dcraw_emu");
        const DecoderChoice choice = chooseDecoder(c.setting, p, raws, decoder);
        EXPECT_EQ(choice.outcome, c.outcome);
        EXPECT_EQ(choice.decoder.kind, c.kind);
        RecordingReporter rep;
        EXPECT_EQ(reportDecoderChoice(choice, rep), c.outcome == O::Ready);
        EXPECT_EQ(rep.logLines(), c.log);
        EXPECT_EQ(rep.boxes.size(), c.outcome == O::Ready ? 0u : 1u);
        // A forced setting asks nothing; LibRaw is asked only about what dcraw cannot read.
        if (c.setting != S::Automatic) {
            EXPECT_TRUE(decoder.identifications.isEmpty());
        }
        for (const QString& q : decoder.identifications)
            EXPECT_TRUE(!q.startsWith("LibRaw") || c.dcrawCannot.contains(q.mid(7))) << q.toStdString();
    }
}

TEST_F(DecoderChoiceTest, EachVersionOfAFileIsAskedAboutOnce) {
    fake.dcrawCannotRead = {"b.CR3"};
    chooseDecoder(DecoderSetting::Automatic, paths, raws, fake);
    chooseDecoder(DecoderSetting::Automatic, paths, raws, fake);
    EXPECT_EQ(fake.identifications,
              (QStringList{"dcraw a.CR3", "dcraw b.CR3", "dcraw c.CR3", "LibRaw b.CR3"}));
    // Rewritten (another size): asked again, and now read.
    writeBytes(raws[1], "a longer file");
    fake.dcrawCannotRead.clear();
    EXPECT_EQ(chooseDecoder(DecoderSetting::Automatic, paths, raws, fake).decoder.kind,
              DecoderKind::Dcraw);
    EXPECT_EQ(fake.identifications.size(), 5);
    EXPECT_EQ(fake.identifications.back(), "dcraw b.CR3");
}

TEST_F(DecoderChoiceTest, AMixedSetIsDevelopedWholeByLibRaw) {
    fake.dcrawCannotRead = {"c.CR3"};
    ImageSet set;
    FullDevelopment development(fake, reporter, set);
    FullDevelopmentJob job;
    job.rutaReferencia = raws[0];
    job.archivosRAW = QStringList{"a.CR3", "b.CR3", "c.CR3"};
    job.rutaDCRAW = paths.dcraw;
    job.rutaLibRaw = paths.libRaw;
    ASSERT_EQ(development.start(job), DevelopmentStatus::Developing);
    EXPECT_EQ(reporter.logLines().mid(1, 2),
              (QStringList{"3 RAW files found now", "dcraw cannot read c.CR3: developing with LibRaw"}));
    for (const FakeDecoder::Call& call : fake.calls) {
        EXPECT_EQ(call.program, paths.libRaw);
        EXPECT_EQ(call.arguments.mid(call.arguments.size() - 3, 2), (QStringList{"-Z", "tiff"}));
    }
    fake.hasEnded = true;  // dcraw_emu ends "successfully" without a TIFF
    EXPECT_EQ(development.poll(), DevelopmentStatus::Failed);
    EXPECT_EQ(reporter.boxes.back().text, "LibRaw could not develop c.CR3");
}

TEST(DecoderTest, LibRawNamesItsTiffsAsDcrawDoes) {
    const QStringList options{"-v", "-r", "1", "1 2"};
    EXPECT_EQ(Decoder::dcraw().commandLine(options, {"/a b/x.CR3"}),
              "/usr/bin/dcraw -v -r 1 \"1 2\" \"/a b/x.CR3\"");
    EXPECT_EQ(Decoder::libRaw().arguments(options, {"/p/x.CR3", "/p/y.CR3"}),
              (QStringList{"-v", "-r", "1", "1 2", "-Z", "tiff", "/p/x.CR3", "/p/y.CR3"}));
    EXPECT_EQ(Decoder::libRaw().commandLine({"-t", ""}), "/usr/bin/dcraw_emu -t \"\" -Z tiff");
    EXPECT_EQ(tiffDeRaw("/a.b.c/IMG.x.0001.CR3"), "/a.b.c/IMG.x.0001.tiff");
    EXPECT_EQ(tiffDeRaw("IMG_1.nef"), "IMG_1.tiff");
    // Without an extension dcraw would look for the dot in the folder's name.
    EXPECT_THROW(tiffDeRaw("/a.b.c/IMG_0001"), std::invalid_argument);
}

}  // namespace
