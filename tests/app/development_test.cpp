// Development runs through the window with a stand-in decoder: the test plays
// dcraw by writing (or not writing) the TIFF the run waits for.
#include "tests/app/development_fixture.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

namespace {

TEST_F(DevelopmentTest, ChoosingAReferenceListsTheSetAndShowsItsQuickDevelopment) {
    const QString folder = makeSet({"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2", "other.NEF"});
    writeBytes(folder + "IMG_2.tiff", "left over from an earlier run");
    choose(folder + "IMG_2.CR2");
    frmMain& w = *window;
    EXPECT_EQ(dialogTitle, "Set reference RAW file and pathname");
    // Every type either decoder reads, then all files.
    EXPECT_TRUE(dialogFilter.startsWith("RAW files (*.3fr;")) << dialogFilter.toStdString();
    for (const char* type : {"*.cr2;", "*.cr3;", "*.nef;", "*.arw;", "*.orf;", "*.pef;", "*.dng;"})
        EXPECT_TRUE(dialogFilter.contains(type)) << type;
    EXPECT_TRUE(dialogFilter.endsWith("*.x3f);;All files (*.*)")) << dialogFilter.toStdString();
    EXPECT_EQ(w.ArchivosRAW, (QStringList{"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2"}));
    EXPECT_EQ(w.txtFiles->toPlainText(), "IMG_1.CR2\nIMG_2.CR2\nIMG_3.CR2\n");
    EXPECT_EQ(w.txtRuta->text(), folder + "IMG_2.CR2");
    EXPECT_FALSE(QFile::exists(folder + "IMG_2.tiff"));  // the old TIFF cannot pass for the new
    ASSERT_EQ(fake->calls.size(), 1u);
    EXPECT_EQ(fake->calls[0].program, "/usr/bin/dcraw");
    EXPECT_EQ(fake->calls[0].arguments,
              (QStringList{"-v", "-4", "-T", "-r", "2.132483", "1", "1.480864", "1", "-q", "3", "-o",
                           "1", "-t", "0", "-h", folder + "IMG_2.CR2"}));
    EXPECT_EQ(logLines(), (QStringList{"Quick developing IMG_2.CR2..."}));
    EXPECT_TRUE(w.timReveladoRapido->isActive());
    EXPECT_FALSE(w.cmdDevelop->isEnabled());

    develop(folder + "IMG_2.CR2");
    ASSERT_TRUE(displayed());
    EXPECT_EQ(logLines(), (QStringList{"Quick developing IMG_2.CR2...",
                                       "IMG_2.CR2 developed and displayed", "DONE"}));
    EXPECT_TRUE(w.cmdDevelop->isEnabled());
    EXPECT_TRUE(w.cmdCopyClipBoard->isEnabled());
    EXPECT_FALSE(w.timReveladoRapido->isActive());
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(w.patch.AnchoMostrado, 585);
    EXPECT_EQ(w.patch.AltoMostrado, 390);
    EXPECT_EQ(w.pctImagen->picture().size(), QSize(585, 390));

    // The same file again: nothing happens but the box.
    choose(folder + "IMG_2.CR2");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Orrindale");
    EXPECT_EQ(boxes[0].text, "No file has been selected");
    EXPECT_EQ(fake->calls.size(), 1u);
    choose("");  // cancelled
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(DevelopmentTest, AHalfWrittenTiffIsNeverShown) {
    const QString folder = makeSet({"a.dng", "b.dng"});
    choose(folder + "a.dng");
    const GflBitmap img = makeBitmap(300, 200, [](int x, int, int) { return 100.0 * x; });
    const QByteArray whole = headerFirstTiff(img);
    QFile out(folder + "a.tiff");
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    // Write the header and part of the pixels, slowly, across several ticks.
    for (int part = 1; part <= 4; ++part) {
        out.write(whole.mid((part - 1) * whole.size() / 5, whole.size() / 5));
        out.flush();
        waitFor([] { return false; }, 600);
        ASSERT_FALSE(window->estado.ImagenMostrada) << "shown after part " << part;
        ASSERT_TRUE(window->timReveladoRapido->isActive());
    }
    out.write(whole.mid(4 * whole.size() / 5));
    out.close();
    ASSERT_TRUE(displayed());
    EXPECT_EQ(window->patch.AltoMostrado, 390);
}

TEST_F(DevelopmentTest, ADecoderThatEndsWithoutATiffIsReported) {
    const QString folder = makeSet({"bad.CR2", "good.CR2"});
    QFile::remove(folder + "bad.tiff");
    choose(folder + "bad.CR2");
    fake->hasEnded = true;
    ASSERT_TRUE(waitFor([&] { return !window->timReveladoRapido->isActive(); }, 3000));
    EXPECT_EQ(logLines(),
              (QStringList{"Quick developing bad.CR2...", "DCRAW could not develop bad.CR2", "DONE"}));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "ERROR");
    EXPECT_EQ(boxes[0].text, "DCRAW could not develop bad.CR2");
    EXPECT_FALSE(window->estado.ImagenMostrada);
    EXPECT_FALSE(window->cmdDevelop->isEnabled());
}

TEST_F(DevelopmentTest, FolderNamesThatAShellWouldMisreadAreJustNames) {
    const QString sub = "a b;'q'\"d\"$(x)";
    const QString folder = makeSet({"IMG_1.CR2"}, sub);
    choose(folder + "IMG_1.CR2");
    ASSERT_EQ(fake->calls.size(), 1u);
    EXPECT_EQ(fake->calls[0].arguments.back(), folder + "IMG_1.CR2");
    develop(folder + "IMG_1.CR2");
    ASSERT_TRUE(displayed());
    window->cmdDevelop->click();
    ASSERT_EQ(fake->calls.size(), 2u);
    EXPECT_EQ(fake->calls[1].arguments.back(), folder + "IMG_1.CR2");
}

TEST_F(DevelopmentTest, TheLengthLimitIs134Characters) {
    // The default quick line is 66 characters; with a blank and the path the
    // whole line is 67 + path length. Paths of 67 and 68 characters.
    const QString base = dir.path() + "/";
    const int quick = static_cast<int>(window->lblDCRAW->text().size());
    ASSERT_EQ(quick, 66);
    auto pathOfLength = [&](int length, const QString& tag) {
        const QString name = tag + ".CR2";
        const int pad = length - static_cast<int>(base.size() + name.size() + 1);
        EXPECT_GT(pad, 0);
        const QString sub = QString(pad, QChar('d'));
        makeSet({name}, sub);
        return base + sub + "/" + name;
    };
    choose(pathOfLength(134 - 67, "a"));
    EXPECT_EQ(fake->calls.size(), 1u);
    EXPECT_TRUE(boxes.empty());
    choose(pathOfLength(135 - 67, "b"));
    EXPECT_EQ(fake->calls.size(), 1u);  // not started
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Max DCRAW command line total length exceeded by 1 chars\r\nReduce pathname and/or "
              "filename lengths");
    EXPECT_FALSE(window->timReveladoRapido->isActive());
}

TEST_F(DevelopmentTest, TheFullRunChecksEachFilesLine) {
    // Five files whose joined paths would pass 134 characters: each file's own
    // line is what counts, as each file is its own dcraw process.
    const QString folder = makeSet({"IMG_0001.dng", "IMG_0002.dng", "IMG_0003.dng", "IMG_0004.dng",
                                    "IMG_0005.dng"});
    choose(folder + "IMG_0003.dng");
    develop(folder + "IMG_0003.dng");
    ASSERT_TRUE(displayed());
    window->cmdDevelop->click();
    ASSERT_EQ(fake->calls.size(), 1u + 2u);  // two at a time
    EXPECT_EQ(fake->calls[1].arguments.size(), 12 + 1);
    EXPECT_EQ(fake->calls[2].arguments.size(), 12 + 1);
    EXPECT_TRUE(boxes.empty());
    // One file with a path too long for its own line stops the run before
    // any file starts, even one whose turn would come later.
    const QString longName = QString(134 - 59 - static_cast<int>(folder.size()), QChar('x')) + ".dng";
    writeBytes(folder + longName, "raw");
    window->ArchivosRAW.push_back(longName);
    window->cmdDevelop->click();
    EXPECT_EQ(fake->calls.size(), 3u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Max DCRAW command line total length exceeded by 4 chars"))
        << boxes[0].text.toStdString();
    EXPECT_FALSE(window->timRevelado->isActive());
}

TEST_F(DevelopmentTest, AReferenceDeletedAfterItWasChosen) {
    const QString folder = makeSet({"r1.dng", "r2.dng"});
    choose(folder + "r1.dng");
    develop(folder + "r1.dng");
    ASSERT_TRUE(displayed());
    QFile::remove(folder + "r1.dng");
    pick(window->cmbQuality, 2);  // a setting change re-develops the preview
    EXPECT_EQ(logLines().mid(logLines().size() - 2), (QStringList{"r1.dng not found.", "DONE"}));
    EXPECT_EQ(fake->calls.size(), 1u);
    EXPECT_FALSE(window->timReveladoRapido->isActive());
}

class MissingDecoderTest : public DevelopmentTest {
protected:
    QString decoderPath() const override { return "/nonexistent/dcraw"; }
};

TEST_F(MissingDecoderTest, SelectingAReferenceSaysWhereTheDecoderWasExpected) {
    choose(makeSet({"IMG_1.CR2"}) + "IMG_1.CR2");
    EXPECT_EQ(dialogs, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "ERROR");
    EXPECT_EQ(boxes[0].text, "DCRAW not found in '/nonexistent/dcraw'");
    EXPECT_TRUE(window->ArchivosRAW.isEmpty());
    EXPECT_TRUE(fake->calls.empty());
}

TEST_F(DevelopmentTest, FullDevelopmentSkipsMissingFilesAndWaitsForTheLast) {
    const QString folder = makeSet({"f1.dng", "f2.dng", "f3.dng"});
    choose(folder + "f1.dng");
    develop(folder + "f1.dng");
    ASSERT_TRUE(displayed());
    QFile::remove(folder + "f2.dng");
    window->cmdEV->setEnabled(true);
    window->cmdDevelop->click();
    EXPECT_FALSE(window->cmdEV->isEnabled());
    EXPECT_TRUE(window->cmdDevelop->isEnabled());
    EXPECT_EQ(logLines(), (QStringList{"3 RAW files selected in path", "file f2.dng not found. Skipped",
                                       "2 RAW files found now", "", "Developing 2 RAW files...",
                                       "PLEASE WAIT"}));
    // One process per file, with the same options.
    ASSERT_EQ(fake->calls.size(), 3u);
    const QStringList options{"-v", "-4", "-T", "-r", "2.132483", "1", "1.480864", "1", "-q", "3", "-o", "1"};
    EXPECT_EQ(fake->calls[1].arguments, options + QStringList{folder + "f1.dng"});
    EXPECT_EQ(fake->calls[2].arguments, options + QStringList{folder + "f3.dng"});
    EXPECT_FALSE(QFile::exists(folder + "f1.tiff"));  // deleted before the run
    EXPECT_TRUE(window->timRevelado->isActive());
    EXPECT_EQ(window->NumRevelados, 2);
    EXPECT_EQ(window->UltimoRevelado, 3);
    develop(folder + "f1.dng");
    waitFor([] { return false; }, 3300);
    EXPECT_TRUE(window->timRevelado->isActive());  // f3 still runs
    develop(folder + "f3.dng");
    ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 5000));
    EXPECT_EQ(logLines().back(), "DONE");
    EXPECT_EQ(window->lblDCRAW->text(), ConstruirComandoDCRAW(window->readSettings(), true, false));
}

TEST_F(DevelopmentTest, OneDevelopedFileDoesNotEnableCalcEV) {
    const QString folder = makeSet({"only.dng"});
    choose(folder + "only.dng");
    develop(folder + "only.dng");
    ASSERT_TRUE(displayed());
    window->cmdDevelop->click();
    develop(folder + "only.dng");
    ASSERT_TRUE(waitFor([&] { return !window->timRevelado->isActive(); }, 5000));
    EXPECT_FALSE(window->cmdEV->isEnabled());
}

TEST_F(DevelopmentTest, NothingToDevelop) {
    const QString folder = makeSet({"x1.dng", "x2.dng"});
    choose(folder + "x1.dng");
    develop(folder + "x1.dng");
    ASSERT_TRUE(displayed());
    QFile::remove(folder + "x1.dng");
    QFile::remove(folder + "x2.dng");
    const int before = beeps;
    window->cmdDevelop->click();
    EXPECT_EQ(logLines().mid(3), (QStringList{"0 RAW files found now", "", "Not files to develop", "DONE"}));
    EXPECT_EQ(beeps, before + 1);
    EXPECT_EQ(fake->calls.size(), 1u);
}

TEST_F(DevelopmentTest, ASettingChangeRedevelopsThePreview) {
    const QString folder = makeSet({"p1.dng", "p2.dng"});
    choose(folder + "p1.dng");
    develop(folder + "p1.dng");
    ASSERT_TRUE(displayed());
    pick(window->cmbQuality, 1);
    ASSERT_EQ(fake->calls.size(), 2u);
    EXPECT_TRUE(fake->calls[1].arguments.join(' ').contains("-q 1 -o 1 -t 0 -h"));
    EXPECT_FALSE(window->cmdDevelop->isEnabled());
    develop(folder + "p1.dng");
    ASSERT_TRUE(waitFor([&] { return window->cmdDevelop->isEnabled(); }, 5000));
}

TEST_F(DevelopmentTest, HighlightRecoveryAdviceIsShownOnce) {
    window->chkHLRecovery->click();
    window->chkHLRecovery->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "WARNING");
    EXPECT_TRUE(boxes[0].text.startsWith("Highlight recovery activated."));
    EXPECT_FALSE(window->chkHLRecovery->isChecked());
}

TEST_F(DevelopmentTest, HighlightRecoveryRedevelopsTheLeastExposedFile) {
    const QString folder = makeSet({"h1.dng", "h2.dng", "h3.dng"});
    choose(folder + "h1.dng");
    develop(folder + "h1.dng");
    ASSERT_TRUE(displayed());
    window->chkHLRecovery->click();
    window->cmdDevelop->click();
    // h2 is the darkest frame of the three.
    develop(folder + "h1.dng", 2.0, 60, 40);
    develop(folder + "h2.dng", 0.5, 60, 40);
    develop(folder + "h3.dng", 4.0, 60, 40);
    ASSERT_TRUE(waitFor([&] { return window->timReveladoHLRecovery->isActive(); }, 6000))
        << window->statusText().toStdString();
    EXPECT_FALSE(window->cmdEV->isEnabled());
    const FakeLauncher::Call& hl = fake->calls.back();
    EXPECT_EQ(hl.arguments.mid(hl.arguments.size() - 3),
              (QStringList{"-H", "2", folder + "h2.dng"}));
    // The set was loaded and sorted (the log restarted with the loading).
    EXPECT_EQ(logLines().first(), "Loading 3 TIFF files...");
    EXPECT_TRUE(logLines().contains("Sorting images by exposure..."));
    EXPECT_EQ(logLines().back(), "Highlight recovery on h2.dng...");
    EXPECT_FALSE(window->imagenes.TIFFsCargados);  // loaded, sorted, released
    develop(folder + "h2.dng", 0.25, 60, 40);
    ASSERT_TRUE(waitFor([&] { return window->cmdEV->isEnabled(); }, 6000));
    EXPECT_EQ(logLines().back(), "DONE");
}

class PreviewTest : public DevelopmentTest {
protected:
    void SetUp() override {
        DevelopmentTest::SetUp();
        const QString folder = makeSet({"IMG_1.CR2", "IMG_2.CR2"});
        choose(folder + "IMG_1.CR2");
        develop(folder + "IMG_1.CR2");
        ASSERT_TRUE(displayed());
        fake->calls.clear();
    }
    int redPixels() const {
        const QImage img = window->pctImagen->picture();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) n += img.pixel(x, y) == qRgb(255, 20, 20);
        return n;
    }
};

TEST_F(PreviewTest, DraggingPlacesThePatchAndSelectsPatchMode) {
    frmMain& w = *window;
    w.pctImagen_MouseMove(292.5f, 0);
    EXPECT_EQ(w.lblXY->text(), "(50%, 0%)");
    w.pctImagen_MouseDown(117, 78);
    w.pctImagen_MouseMove(234, 156);
    EXPECT_EQ(w.lblXY->text(), "(20%, 20%) -> (40%, 40%)");
    EXPECT_GT(redPixels(), 100);
    w.pctImagen_MouseUp(234, 156);
    EXPECT_TRUE(w.estado.ParcheColocado);
    EXPECT_TRUE(w.optWB[3]->isChecked());
    EXPECT_TRUE(w.cmdCalculateWB->isEnabled());
    EXPECT_TRUE(w.cmdParche->isEnabled());
    // The outline: a 118 x 79 rectangle plus the centre cross.
    EXPECT_EQ(redPixels(), 2 * 118 + 2 * 77 + 9 + 8);
    // The plain picture never carries the outline.
    EXPECT_TRUE(w.ImagenPantalla.ImagenVisible().pixel(117, 78) != qRgb(255, 20, 20));

    w.cmdParche_Click();
    EXPECT_EQ(w.cmdParche->text(), "O");
    EXPECT_FALSE(w.estado.ParcheCuadrado);
    EXPECT_NEAR(w.patch.PatchX0, 0.3, 1e-6);
    w.cmdParche_Click();
    EXPECT_EQ(w.cmdParche->text(), "[   ]");
    EXPECT_NEAR(w.patch.PatchX0, 0.2, 1e-6);

    // Another WB mode shows the plain picture; Patch again draws the outline.
    QTest::mouseClick(w.optWB[2], Qt::LeftButton);
    EXPECT_EQ(redPixels(), 0);
    QTest::mouseClick(w.optWB[3], Qt::LeftButton);
    EXPECT_GT(redPixels(), 0);

    w.cmdCopyClipBoard_Click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "Orrindale");
    EXPECT_EQ(boxes[0].text, "Display snapshot copied to Clipboard");
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), QSize(585, 390));
}

TEST_F(PreviewTest, CalcWBDevelopsNeutrallyMeasuresAndRedevelops) {
    frmMain& w = *window;
    const QString ref = w.txtRuta->text();
    w.pctImagen_MouseDown(100, 100);
    w.pctImagen_MouseUp(200, 200);
    fake->calls.clear();
    w.cmdCalculateWB->click();
    ASSERT_EQ(fake->calls.size(), 1u);
    EXPECT_TRUE(fake->calls[0].arguments.join(' ').contains("-r 1 1 1 1 -q 3 -o 0 -t 0 -h"));
    EXPECT_TRUE(w.timReveladoRapidoNeutro->isActive());
    EXPECT_FALSE(w.cmdDevelop->isEnabled());
    // The neutral development: R 100, G 200, B 150 everywhere.
    const GflBitmap neutral = makeBitmap(300, 200, [](int, int, int c) { return c == 0 ? 100 : c == 1 ? 200 : 150; });
    writeBytes(tiffDeRaw(ref), headerFirstTiff(neutral));
    ASSERT_TRUE(waitFor([&] { return fake->calls.size() == 2; }, 3000));
    EXPECT_EQ(w.txtWB[0]->text(), "2");
    EXPECT_EQ(w.txtWB[1]->text(), "1");
    EXPECT_EQ(w.txtWB[2]->text(), "1.333");
    EXPECT_TRUE(w.optWB[3]->isChecked());
    EXPECT_TRUE(fake->calls[1].arguments.join(' ').contains("-r 2 1 1.333 1 -q 3 -o 1 -t 0 -h"));
    EXPECT_EQ(logLines(), QStringList{"Quick developing IMG_1.CR2..."});
    EXPECT_TRUE(w.timReveladoRapido->isActive());
}

}  // namespace

namespace {

TEST_F(PreviewTest, CalcWBMeasuresAtOnceWhenThePreviewIsAlreadyNeutral) {
    frmMain& w = *window;
    pick(w.cmbWB, 0);       // multipliers 1 1 1
    pick(w.cmbProfile, 0);  // raw colour: the quick line is now the neutral line
    const QString ref = w.txtRuta->text();
    w.pctImagen_MouseDown(0, 0);
    w.pctImagen_MouseUp(584, 389);
    ASSERT_EQ(w.lblDCRAW->text(), ConstruirComandoDCRAW(w.readSettings(), true, true));
    const GflBitmap neutral =
        makeBitmap(300, 200, [](int, int, int c) { return c == 0 ? 400 : c == 1 ? 800 : 500; });
    writeBytes(tiffDeRaw(ref), headerFirstTiff(neutral));
    fake->calls.clear();
    w.cmdCalculateWB->click();
    EXPECT_EQ(w.txtWB[0]->text(), "2");
    EXPECT_EQ(w.txtWB[2]->text(), "1.6");
    ASSERT_EQ(fake->calls.size(), 1u);  // straight to the quick run with the new multipliers
    EXPECT_TRUE(fake->calls[0].arguments.join(' ').contains("-r 2 1 1.6 1 -q 3 -o 0 -t 0 -h"));
}

TEST_F(DevelopmentTest, CalcEVMeasuresTheDevelopedSet) {
    const QString folder = makeSet({"e1.dng", "e2.dng", "e3.dng"});
    choose(folder + "e2.dng");
    // Calc EV does nothing while no preview is on display.
    window->cmdEV->setEnabled(true);
    window->cmdEV->click();
    EXPECT_FALSE(window->imagenes.TIFFsCargados);
    EXPECT_EQ(logLines(), QStringList{"Quick developing e2.dng..."});

    // Every sample usable and exact ratios of 4: the lines are exact too.
    auto frame = [&](const QString& raw, double scale) {
        const GflBitmap img = makeBitmap(
            60, 40, [&](int x, int, int c) { return scale * (1100 + 10 * x + 20 * c); });
        writeBytes(tiffDeRaw(raw), headerFirstTiff(img));
    };
    frame(folder + "e2.dng", 4);
    ASSERT_TRUE(displayed());
    frame(folder + "e1.dng", 16);
    frame(folder + "e3.dng", 1);
    window->cmdEV->setEnabled(true);
    window->cmdEV->click();
    EXPECT_TRUE(window->cmdBuildMap->isEnabled()) << window->statusText().toStdString();
    const QStringList log = logLines();
    EXPECT_EQ(log.first(), "Loading 3 TIFF files...");
    EXPECT_TRUE(log.contains("e3.tiff: 1 (0EV)"));
    // The first row and column are never centre pixels: 59 x 39 of 60 x 40.
    EXPECT_TRUE(log.contains("e2.tiff: 4 (+2EV) (95.9% lev)")) << log.join('|').toStdString();
    EXPECT_TRUE(log.contains("e1.tiff: 16 (+4EV) (95.9% lev)"));
    EXPECT_EQ(log.back(), "DONE");
    EXPECT_FALSE(QDir(folder).entryList({"His_*.gif"}).isEmpty());

    // A pair that cannot be measured: Build map stays disabled.
    frame(folder + "e1.dng", 60);  // clipped everywhere
    window->cmdEV->click();
    EXPECT_FALSE(window->cmdBuildMap->isEnabled());
    ASSERT_FALSE(boxes.empty());
    EXPECT_TRUE(boxes.back().text.startsWith("Too wide exposure gap between e2.tiff and e1.tiff"));
}

}  // namespace
