// orrindale-batch: the whole chain from RAW files to blended TIFFs without a
// window, for many brackets and for scripts.
#include "batch/batch_options.h"
#include "batch/batch_jobs.h"
#include "batch/batch_run.h"
#include "batch/stdout_reporter.h"
#include "batch/stop_signals.h"
#include "develop/dcraw_process.h"
#include "orrindale_version.h"
#include "support/parallel.h"
#include "support/tiff_io.h"

#include <QGuiApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

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
    const BatchOptions& options = *parsed.options;
    if (options.threads > 0) setParallelThreads(options.threads);
    int status = 0;
    if (options.jobs > 1) {
        status = runBatchJobs(options, QCoreApplication::applicationFilePath(), stdout, stderr);
    } else {
        StdoutReporter reporter(stdout, stderr);
        DetachedLauncher launcher;
        launcher.setThreads(options.threads);
        std::atomic<bool> decodersStopped{false};
        installStopSignals([&](int signal) {
            reporter.silence();
            launcher.stopAll();
            decodersStopped = true;
            // The batch stops before its next stage; one that never comes
            // back ends here.
            std::this_thread::sleep_for(std::chrono::seconds(60));
            removeDecoderMessageFolder();
            std::_Exit(stoppedStatus(signal));
        });
        status = runBatch(options, reporter, launcher, stdout);
        // Nothing of the launcher may go while its decoders are being ended.
        while (stopSignal() && !decodersStopped)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (stopSignal()) std::fprintf(stderr, "orrindale-batch: stopped\n");
    return status;
}
