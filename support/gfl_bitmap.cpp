// Image-record load, save and release, reporting failures as the library
// wrappers always have: the library's text inside "gflLoadBitmap [...]".
#include "support/gfl_bitmap.h"

#include "support/errors.h"
#include "support/reporter.h"
#include "support/tiff_io.h"

BitmapIoResult loadBitmapQuiet(const QString& path, GflBitmap& record) {
    BitmapIoResult result;
    try {
        readTiffRgb16(path, record);
    } catch (const TiffError& e) {
        result = {true, QStringLiteral("gflLoadBitmap [") + e.message() + QStringLiteral("]"), 0,
                  QString()};
    } catch (...) {
        const ErrorInfo info = describeException(std::current_exception());
        result = {true, QStringLiteral("CargarGflBitmap"), info.number, info.description};
    }
    return result;
}

void reportBitmapIo(const BitmapIoResult& result, Reporter& reporter) {
    if (result.failed) reporter.InformarError(result.module, result.number, result.description);
}

bool CargarGflBitmap(const QString& path, GflBitmap& record, Reporter& reporter) {
    const BitmapIoResult result = loadBitmapQuiet(path, record);
    reportBitmapIo(result, reporter);
    return result.failed;
}

bool GuardarGflBitmap(const GflBitmap& record, const QString& path, Reporter& reporter,
                      const TiffTags& tags) {
    return GuardarGflBitmap(bitmapRows(record), path, reporter, tags);
}

bool GuardarGflBitmap(const RgbRows& rows, const QString& path, Reporter& reporter,
                      const TiffTags& tags) {
    try {
        writeTiffRgb16(rows, path, tags);
        return false;
    } catch (const TiffError& e) {
        reporter.InformarError(QStringLiteral("gflSaveBitmap [") + e.message() +
                                   QStringLiteral("]"),
                               0, QString());
    } catch (...) {
        reporter.InformarError(QStringLiteral("GuardarGflBitmap"));
    }
    return true;
}

void LiberarGflBitmap(GflBitmap& record) {
    record.width = 0;
    record.height = 0;
    std::vector<uint16_t>().swap(record.pixels);
}
