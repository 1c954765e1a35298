// The viewer's list of a set's pictures and their sources: 16-bit TIFFs (the
// output, the RAW preview), 8-bit pictures (map, histogram, contact sheet)
// and the frames in memory brought to the output.
#include "pipeline/set_pictures.h"

#include "blend/blend.h"
#include "blend/hdr_output.h"
#include "support/errors.h"
#include "support/hdr_rows.h"
#include "support/opened_file.h"
#include "support/parallel.h"
#include "support/screen_picture.h"
#include "support/screen_tone.h"
#include "support/tiff_rows.h"

#include <QFileInfo>

namespace {

// The display gamma of the preview box over linear developed files.
constexpr double kPreviewGamma = 2.2;

const QString kDot = QStringLiteral(" \u00b7 ");

PictureSamples rgb(const uint16_t* p) {
    return {3, {double(p[0]), double(p[1]), double(p[2])}, false};
}

// A file shown through a file of its own kept open.
class FilePicture : public PictureSource {
  public:
    explicit FilePicture(std::shared_ptr<const OpenedFile> file) : file_(std::move(file)) {}
    QString fileName() const override { return QFileInfo(file_->path()).fileName(); }
    bool unchanged() const override { return file_->stillAtPath(); }

  protected:
    std::shared_ptr<const OpenedFile> file_;
};

// A 16-bit TIFF through a screen table; the samples under the pointer are
// decoded from the open file a strip at a time.
class TiffPicture : public FilePicture {
  public:
    TiffPicture(std::shared_ptr<const OpenedFile> file, std::vector<uint8_t> table)
        : FilePicture(std::move(file)), table_(std::move(table)) {}
    Rgb8Plane screenPicture() override { return tiffOnScreen(*file_, table_); }
    PictureSamples samplesAt(int x, int y, const Rgb8Plane&) override {
        try {
            if (!reader_) reader_ = std::make_unique<TiffRowReader>(*file_);
            row_.resize(static_cast<size_t>(reader_->width()) * 3);
            reader_->readRows(y, 1, row_.data());
            return rgb(row_.data() + static_cast<size_t>(x) * 3);
        } catch (...) {
            return {};  // a file written over in place reads nothing
        }
    }

  private:
    std::vector<uint8_t> table_;
    std::unique_ptr<TiffRowReader> reader_;
    std::vector<uint16_t> row_;
};

// A float TIFF or OpenEXR file shown as the 16-bit TIFF at gamma 2.2 of the
// same values would be, an HDR AVIF as its SDR part (203 cd/m² at full
// scale, BT.2020 brought to the screen's BT.709 primaries): what the preview
// box shows of them. The samples read out are the file's own: linear values,
// or PQ codes.
class HdrPicture : public FilePicture {
  public:
    HdrPicture(std::shared_ptr<const OpenedFile> file, std::unique_ptr<HdrRowReader> reader)
        : FilePicture(std::move(file)), reader_(std::move(reader)) {}
    Rgb8Plane screenPicture() override {
        const int width = reader_->width(), height = reader_->height();
        Rgb8Plane out(width, height);
        const bool avif = reader_->kind() == HdrFileKind::Avif;
        const std::vector<double> nits =
            avif ? nitsOfCodes(reader_->depth()) : std::vector<double>();
        const int block = reader_->blockRows();
        // An AVIF is held decoded by the one reader, whose rows any thread
        // may copy; the others are read in bands of whole blocks, each band
        // by a reader of its own.
        const int bandRows = avif ? 64 : blockBandRows(height, block);
        parallelRows(height, bandRows, [&](const RowBand& band) {
            std::unique_ptr<HdrRowReader> own;
            HdrRowReader* reader = reader_.get();
            if (!avif) {
                own = openHdrRows(*file_);
                reader = own.get();
            }
            const int rows = avif ? band.end - band.begin : block;
            const size_t samples = static_cast<size_t>(rows) * width * 3;
            std::vector<float> values(samples);
            std::vector<double> linear(samples);
            std::vector<uint16_t> shown(samples);
            for (int y = band.begin; y < band.end; y += rows) {
                const int count = std::min(rows, band.end - y);
                const size_t n = static_cast<size_t>(count) * width * 3;
                reader->readRows(y, count, values.data());
                if (avif) {
                    linearOfCodes(values.data(), n, nits, linear.data());
                    previewSamples(linear.data(), n, kLinearOneNits / kSdrWhiteNits, shown.data());
                } else {
                    for (size_t i = 0; i < n; ++i)
                        linear[i] = values[i] > 0 ? values[i] : 0.0;  // NaN and below 0 as black
                    previewSamples(linear.data(), n, 1, shown.data());
                }
                uint8_t* to = out.row(y);
                for (size_t i = 0; i < n; ++i) to[i] = screenValue(shown[i]);
            }
        });
        return out;
    }
    PictureSamples samplesAt(int x, int y, const Rgb8Plane&) override {
        try {
            row_.resize(static_cast<size_t>(reader_->width()) * 3);
            reader_->readRows(y, 1, row_.data());
            const float* p = row_.data() + static_cast<size_t>(x) * 3;
            return {3,
                    {double(p[0]), double(p[1]), double(p[2])},
                    reader_->kind() != HdrFileKind::Avif};
        } catch (...) {
            return {};
        }
    }

  private:
    // Light of each PQ code in units of linear 1.0.
    static std::vector<double> nitsOfCodes(int depth) {
        const int top = (1 << std::clamp(depth, 8, 16)) - 1;
        std::vector<double> v(static_cast<size_t>(top) + 1);
        for (int c = 0; c <= top; ++c)
            v[static_cast<size_t>(c)] = nitsFromPq(static_cast<double>(c) / top) / kLinearOneNits;
        return v;
    }
    // BT.2020 to BT.709 (ITU-R BT.2087), outside colours clipped at 0.
    static void linearOfCodes(const float* codes, size_t n, const std::vector<double>& light,
                              double* out) {
        static constexpr double m[9] = {1.660491,  -0.587641, -0.072850, -0.124550, 1.132900,
                                        -0.008349, -0.018151, -0.100579, 1.118730};
        const size_t last = light.size() - 1;
        for (size_t i = 0; i < n; i += 3) {
            double c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = light[std::min(static_cast<size_t>(codes[i + k]), last)];
            for (int k = 0; k < 3; ++k)
                out[i + k] =
                    std::max(0.0, m[3 * k] * c[0] + m[3 * k + 1] * c[1] + m[3 * k + 2] * c[2]);
        }
    }

    std::unique_ptr<HdrRowReader> reader_;
    std::vector<float> row_;
};

// A picture Qt reads, shown as it is: its samples are the screen's. A map
// also tells the image each grey level (its red) stands for.
class EightBitPicture : public FilePicture {
  public:
    EightBitPicture(std::shared_ptr<const OpenedFile> file, MapChoices choices)
        : FilePicture(std::move(file)), choices_(std::move(choices)) {}
    Rgb8Plane screenPicture() override {
        QString error;
        const QImage picture = readPicture(*file_, error);
        if (picture.isNull())
            throw RunError(kErrInvalidPicture, error + QStringLiteral(": ") + file_->path());
        grey_ = picture.format() == QImage::Format_Grayscale8;
        return pictureOnScreen(picture);
    }
    PictureSamples samplesAt(int x, int y, const Rgb8Plane& shown) override {
        const uint8_t* p = shown.row(y) + static_cast<size_t>(x) * 3;
        if (grey_) return {1, {double(p[0]), 0, 0}, false};
        return {3, {double(p[0]), double(p[1]), double(p[2])}, false};
    }
    QString noteAt(int x, int y, const Rgb8Plane& shown) override {
        return choices_.ofLevel(shown.row(y)[static_cast<size_t>(x) * 3]);
    }

  private:
    MapChoices choices_;
    bool grey_ = false;
};

// The output: its file's picture and samples, and the image the map chose
// at each pixel, read from the map it was blended through.
class OutputPicture : public PictureSource {
  public:
    OutputPicture(std::unique_ptr<PictureSource> file, BlendRecord record)
        : file_(std::move(file)), record_(std::move(record)) {}
    QString fileName() const override { return file_->fileName(); }
    Rgb8Plane screenPicture() override {
        Rgb8Plane shown = file_->screenPicture();
        size_ = QSize(shown.width, shown.height);
        return shown;
    }
    PictureSamples samplesAt(int x, int y, const Rgb8Plane& shown) override {
        return file_->samplesAt(x, y, shown);
    }
    bool unchanged() const override { return file_->unchanged(); }
    void prepareNotes() override {
        if (triedMap_ || !record_.valid() || size_.isEmpty()) return;
        triedMap_ = true;
        // No map, no note: the samples are still read out.
        choices_ =
            MapChoices(mapLevels(record_.rutaMapa, size_), record_.tablaMapa, record_.imagenes);
    }
    QString noteAt(int x, int y, const Rgb8Plane&) override {
        const QString chosen = choices_.at(x, y);
        // A weighted merge averages in every image that saw the pixel well.
        if (chosen.isEmpty() || record_.merge != BlendMerge::Weighted) return chosen;
        return chosen + kDot + QStringLiteral("weighted merge");
    }

  private:
    std::unique_ptr<PictureSource> file_;
    BlendRecord record_;
    QSize size_;
    bool triedMap_ = false;
    MapChoices choices_;
};

// Frame k of the set in memory, brought to the output's exposure and gamma.
class FramePicture : public PictureSource {
  public:
    FramePicture(const ImageSet& set, int k)
        : set_(set),
          k_(k),
          match_(frameMatch(set.lastBlend, set.ExpRelativas, k)),
          name_(QFileInfo(set.ArchivosTIFF.value(k - 1)).fileName()),
          size_(set.AnchoImagen, set.AltoImagen) {}
    QString fileName() const override { return name_; }
    Rgb8Plane screenPicture() override {
        const GflBitmap* frame = sameFrame();
        if (!frame) throw RunError(kErrInvalidPicture, QStringLiteral("The set is not loaded"));
        Rgb8Plane out(frame->width, frame->height);
        const MatchedScreen screen(match_);
        parallelRows(frame->height, 32, [&](const RowBand& band) {
            screen.rows(*frame, band.begin, band.end - band.begin, out.row(band.begin));
        });
        return out;
    }
    PictureSamples samplesAt(int x, int y, const Rgb8Plane&) override {
        const GflBitmap* frame = sameFrame();
        return frame ? rgb(frame->row(y) + static_cast<size_t>(x) * 3) : PictureSamples{};
    }
    // What the output holds where it takes the pixel whole from this frame.
    QString noteAt(int x, int y, const Rgb8Plane&) override {
        const GflBitmap* frame = sameFrame();
        if (!frame) return {};
        const uint16_t* pixel = frame->row(y) + static_cast<size_t>(x) * 3;
        if (match_.output == MatchedOutput::Linear) {
            const auto v = matchedLinear(pixel, match_);
            return QStringLiteral("as output ") + samplesText({3, {v[0], v[1], v[2]}, true});
        }
        if (match_.output == MatchedOutput::None) return {};
        const auto s = matchedSamples(pixel, match_);
        return QStringLiteral("as output %1 %2 %3").arg(s[0]).arg(s[1]).arg(s[2]);
    }

  private:
    // The frame, while the set still holds it at the size it had.
    const GflBitmap* sameFrame() const {
        if (!set_.TIFFsCargados || k_ < 1 || static_cast<size_t>(k_) > set_.ImagenesTIFF.size())
            return nullptr;
        const GflBitmap& f = set_.ImagenesTIFF[static_cast<size_t>(k_) - 1];
        return QSize(f.width, f.height) == size_ && !f.empty() ? &f : nullptr;
    }
    const ImageSet& set_;
    int k_;
    FrameMatch match_;
    QString name_;
    QSize size_;
};

// A file of any kind the set makes: a float or HDR output, a 16-bit TIFF
// through `table`, else a picture Qt reads.
std::unique_ptr<PictureSource> filePicture(const QString& path, std::vector<uint8_t> table,
                                           MapChoices choices = {}) {
    auto file = std::make_shared<const OpenedFile>(path);
    if (auto hdr = openHdrRows(*file)) return std::make_unique<HdrPicture>(file, std::move(hdr));
    if (isTiffFile(*file)) return std::make_unique<TiffPicture>(file, std::move(table));
    return std::make_unique<EightBitPicture>(file, std::move(choices));
}

}  // namespace

std::vector<PictureEntry> picturesOfSet(const ImageSet& set, const SetFiles& files) {
    std::vector<PictureEntry> list;
    auto add = [&list](PictureKind kind, const char* label, const MadeFile& file,
                       int setRevision = 0) {
        if (!file.path.isEmpty())
            list.push_back({kind, QLatin1String(label), file.path, 0, file.revision, setRevision});
    };
    add(PictureKind::Output, "Output", files.output);
    add(PictureKind::Map, "Map", files.map, files.frames);
    add(PictureKind::MovingAreas, "Moving areas", files.movingAreas);
    if (set.usable())
        for (int k = 1; k <= set.ArchivosTIFF.size(); ++k)
            list.push_back({PictureKind::Frame, QStringLiteral("Image %1").arg(k),
                            set.ArchivosTIFF[k - 1], k, 0, files.frames});
    add(PictureKind::Preview, "RAW preview", files.preview);
    add(PictureKind::Histogram, "Histogram", files.histogram);
    add(PictureKind::Sheet, "Contact sheet", files.sheet);
    return list;
}

std::unique_ptr<PictureSource> openPicture(const PictureEntry& entry, const ImageSet& set,
                                           const SetFiles& files) {
    switch (entry.kind) {
        case PictureKind::Output:
            return std::make_unique<OutputPicture>(filePicture(entry.path, plainScreenTable()),
                                                   files.outputBlend);
        case PictureKind::Map: {
            // Grey levels decode with the table of the set's last map.
            QStringList names;
            for (const QString& path : set.ArchivosTIFF) names << QFileInfo(path).fileName();
            MapChoices choices;
            if (set.tablaMapaValida()) choices = MapChoices({}, set.TablaMapa, names);
            return filePicture(entry.path, plainScreenTable(), std::move(choices));
        }
        case PictureKind::Frame:
            return std::make_unique<FramePicture>(set, entry.frame);
        case PictureKind::Preview:
            return filePicture(entry.path, gammaScreenTable(kPreviewGamma));
        case PictureKind::MovingAreas:
        case PictureKind::Histogram:
        case PictureKind::Sheet:
            return filePicture(entry.path, plainScreenTable());
    }
    return nullptr;
}

FramesState framesState(const ImageSet& set) {
    FramesState s;
    s.loaded = set.usable();
    s.files = set.ArchivosTIFF;
    s.stamps = set.SellosTIFF;
    for (const GflBitmap& frame : set.ImagenesTIFF) s.pixels.push_back(frame.pixels.data());
    s.aligned = set.aligned();
    s.expRelativas = set.ExpRelativas;
    s.factors = set.lastBlend.factors;
    s.g = set.lastBlend.g;
    s.blancoNegro = set.lastBlend.blancoNegro;
    s.mix[0] = set.lastBlend.weights.r;
    s.mix[1] = set.lastBlend.weights.g;
    s.mix[2] = set.lastBlend.weights.b;
    s.tablaMapa = set.TablaMapa;
    s.format = set.lastBlend.format;
    return s;
}
