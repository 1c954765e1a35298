// Floating-point TIFF, OpenEXR and HDR AVIF outputs with their metadata, the
// preview's reduced copy and the progress read-out made as rows are written.
#include "pipeline/hdr_files.h"

#include "blend/hdr_output.h"
#include "support/avif_writer.h"
#include "support/errors.h"
#include "support/exif_block.h"
#include "support/exr_writer.h"
#include "support/parallel.h"
#include "support/reduced_picture.h"
#include "support/reporter.h"
#include "support/tiff_io.h"

#include <optional>
#include <vector>

namespace {

// `rows` as they are written, also counted in `progress` and, with a copy,
// averaged into it as previewSamples shows them at `scale`.
LinearRgbRows watchedLinearRows(const LinearRgbRows& rows, ReducedRgb16* copy, double scale,
                                SharedProgress& progress) {
    LinearRgbRows watched = rows;
    watched.fill = [fill = rows.fill, width = rows.width, copy, scale, &progress](
                       int32_t first, int32_t count, double* out) {
        fill(first, count, out);
        if (copy) {
            const size_t samples = static_cast<size_t>(count) * width * 3;
            std::vector<uint16_t> shown(samples);
            previewSamples(out, samples, scale, shown.data());
            copy->addRows(first, count, shown.data());
        }
        progress.done(count);
    };
    return watched;
}

ExrAttributes exrAttributes(const ShotData& shot, const QString& description) {
    ExrAttributes a;
    if (shot.colours) a.chromaticities = primariesOf(*shot.colours);
    a.capDate = shot.dateTime;
    a.expTime = shot.exif.exposureTime;
    a.aperture = shot.exif.fNumber;
    a.isoSpeed = shot.exif.iso;
    a.comments = description;
    return a;
}

}  // namespace

bool writeHdrFile(OutputFormat format, const LinearRgbRows& rows, const QString& path,
                  const ShotData& shot, const QString& description, bool blackAndWhite,
                  bool preview, Reporter& reporter) {
    // The AVIF's colours are BT.2020's, taken from the profile's primaries; a
    // grey image is grey in any primaries, colours without a profile are not.
    std::array<double, 9> toBt2020{1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (format == OutputFormat::AvifPq) {
        if (shot.colours) {
            toBt2020 = matrixToBt2020(*shot.colours);
        } else if (!blackAndWhite) {
            reporter.MostrarError(QStringLiteral(
                "An HDR AVIF needs the colours of an output colour profile: the developed "
                "files have none (profile None)"));
            return false;
        }
    }
    const double previewScale =
        format == OutputFormat::AvifPq ? kLinearOneNits / kSdrWhiteNits : 1.0;
    std::optional<ReducedRgb16> copy;
    if (preview && reporter.showsResults()) copy.emplace(rows.width, rows.height);
    SharedProgress progress(rows.height, [&reporter](int p) { reporter.stageProgress(p); });
    const LinearRgbRows watched =
        watchedLinearRows(rows, copy ? &*copy : nullptr, previewScale, progress);
    bool written = false;
    try {
        switch (format) {
            case OutputFormat::TiffFloat:
                // The profile of the developed frames with a linear curve.
                writeTiffFloat(
                    watched, path,
                    outputTags(shot, buildOutputProfile(shot.colours, 1.0), description));
                break;
            case OutputFormat::ExrHalf:
            case OutputFormat::ExrFloat:
                writeExr(watched, path,
                         format == OutputFormat::ExrHalf ? ExrPixels::Half : ExrPixels::Float,
                         exrAttributes(shot, description));
                break;
            case OutputFormat::AvifPq: {
                AvifPqOptions options;
                options.exif = exifBlock(outputTags(shot, QByteArray(), description));
                PqRows pq(watched, toBt2020, options.depth);
                writeAvifPq(pq.rows(), path, options, [&pq] { return pq.contentLight(); });
                break;
            }
            case OutputFormat::Tiff16:
                throw RunError(kErrInvalidArgument, QStringLiteral("Not an HDR format"));
        }
        written = true;
    } catch (const TiffError& e) {
        reporter.MostrarError(e.message());
    } catch (const LibraryError& e) {
        reporter.MostrarError(e.message());
    }
    progress.finish();
    if (!written) return false;
    reporter.fileWritten(path);
    if (copy) reporter.showResult(ResultKind::Output, path, copy->picture());
    return true;
}
