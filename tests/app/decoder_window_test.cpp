// The decoder list of the window, with stand-in decoders: what a change does
// to the preview and the label.
#include "tests/app/development_fixture.h"

namespace {

class DecoderWindowTest : public DevelopmentTest {
  protected:
    void adjustHooks(WindowHooks& hooks) override {
        writeBytes(libRaw.filePath("dcraw_emu"), "");
        hooks.rutaLibRaw = libRaw.filePath("dcraw_emu");
    }
    QTemporaryDir libRaw;
};

TEST_F(DecoderWindowTest, ChoosingLibRawRedevelopsThePreviewWithIt) {
    frmMain& w = *window;
    ASSERT_EQ(w.cmbDecoder->currentText(), "Automatic");
    const QString folder = makeSet({"a.CR3", "b.CR3"});
    choose(folder + "a.CR3");
    develop(folder + "a.CR3");
    ASSERT_TRUE(displayed());
    const QString dcrawLine = w.lblDCRAW->text();
    const QStringList asked{"dcraw a.CR3", "dcraw b.CR3"};
    EXPECT_EQ(fake->identifications, asked);

    pick(w.cmbDecoder, 2);
    EXPECT_FALSE(w.cmdDevelop->isEnabled());  // what was measured no longer holds
    ASSERT_EQ(fake->calls.size(), 2u);
    EXPECT_EQ(fake->calls[1].program, w.hooks().rutaLibRaw);
    EXPECT_EQ(fake->calls[1].arguments.mid(fake->calls[1].arguments.size() - 3),
              (QStringList{"-Z", "tiff", folder + "a.CR3"}));
    EXPECT_EQ(w.lblDCRAW->text(),
              w.hooks().rutaLibRaw + dcrawLine.mid(RutaDCRAW.size()) + " -Z tiff");
    EXPECT_EQ(logLines(), (QStringList{"Quick developing a.CR3...", "Developing with LibRaw"}));

    // Back to Automatic: dcraw reads both files (as it said before, not asked
    // again), so the line is dcraw's again.
    pick(w.cmbDecoder, 0);
    EXPECT_EQ(w.lblDCRAW->text(), dcrawLine);
    EXPECT_EQ(fake->identifications, asked);
}

}  // namespace
