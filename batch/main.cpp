// orrindale-batch: the whole chain from RAW files to blended TIFFs without a
// window, for many brackets and for scripts.
#include "batch/batch_options.h"
#include "batch/batch_run.h"
#include "batch/stdout_reporter.h"
#include "develop/dcraw_process.h"
#include "orrindale_version.h"
#include "support/tiff_io.h"

#include <QGuiApplication>
#include <cstdio>

namespace {

// Qt's own notes (fonts, runtime folders) are no business of the user's.
void quietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "orrindale-batch: %s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
    // No display is needed; text on the contact sheet still needs fonts.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietQt);
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("orrindale-batch"));
    initTiffLibrary();

    const ParsedOptions parsed = parseBatchOptions(QCoreApplication::arguments().mid(1));
    if (!parsed.options) {
        std::fprintf(stderr, "orrindale-batch: %s\nTry 'orrindale-batch --help'.\n",
                     qPrintable(parsed.error));
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(qPrintable(batchUsage()), stdout);
        return 0;
    }
    if (parsed.options->version) {
        std::printf("orrindale-batch %s\n", ORRINDALE_VERSION);
        return 0;
    }
    StdoutReporter reporter(stdout, stderr);
    DetachedLauncher launcher;
    return runBatch(*parsed.options, reporter, launcher, stdout);
}
