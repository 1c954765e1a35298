// The pictures a set offers the viewer: the latest output, the map, each
// frame as the blend sees it, the RAW preview, the histogram and the contact
// sheet, and the source that shows each one. The list grows by a kind, a
// line in picturesOfSet and a case in openPicture.
#pragma once

#include "blend/frame_match.h"
#include "pipeline/image_set.h"
#include "pipeline/picture_source.h"

#include <QString>
#include <memory>
#include <vector>

enum class PictureKind { Output, Map, MovingAreas, Frame, Preview, Histogram, Sheet };

// A file the program made (or chose), and how many times it has made that
// kind so far: a file made again under the same name is a new picture.
struct MadeFile {
    QString path;
    int revision = 0;

    // Records a new file of this kind.
    void made(const QString& file) {
        path = file;
        ++revision;
    }
};

// What the window has of a set, the latest of each kind.
struct SetFiles {
    MadeFile preview;         // the RAW preview's TIFF
    MadeFile histogram;       // exposure histogram GIF
    MadeFile map;             // the map the next blend reads
    MadeFile movingAreas;     // the moving areas found with that map, if it was deghosted
    MadeFile output;          // the first file of the latest blend
    MadeFile sheet;           // the contact sheet
    BlendRecord outputBlend;  // what shaped `output`
    // Moves whenever the frames in memory may have changed.
    int frames = 0;
};

struct PictureEntry {
    PictureKind kind = PictureKind::Output;
    QString label;     // as the list shows it: "Output", "Image 2", ...
    QString path;      // the file (a frame's developed TIFF, for its name)
    int frame = 0;     // image number, for frames
    int revision = 0;  // see MadeFile
    // SetFiles::frames for pictures read with the set in memory (the frames;
    // the map, whose levels decode with the set's table); 0 for the others.
    int setRevision = 0;

    bool operator==(const PictureEntry&) const = default;
};

// Everything the set has to show, in the order the viewer lists it: Output,
// Map, Image 1 .. Image n (when the set is loaded), RAW preview, Histogram,
// Contact sheet; each file kind only once made.
std::vector<PictureEntry> picturesOfSet(const ImageSet& set, const SetFiles& files);

// The source of an entry. File sources open their file now and keep it open,
// so they show what they read even once it is removed or replaced; frames
// are read from `set`, which must outlive the source and stay loaded while
// it is used. Throws RunError(kErrFileNotFound) when the file is missing.
std::unique_ptr<PictureSource> openPicture(const PictureEntry& entry, const ImageSet& set,
                                           const SetFiles& files);

// What the frames in memory are, as far as the viewer shows them: their
// files, pixels, alignment, exposures and the output they are matched to.
// Two states differ when a frame's picture (or the map's table) may differ.
struct FramesState {
    bool loaded = false;
    QStringList files;
    std::vector<FileStamp> stamps;
    std::vector<const uint16_t*> pixels;  // a reload puts frames elsewhere
    bool aligned = false;
    std::vector<double> expRelativas;
    std::vector<double> factors;  // the last blend's, with its gamma and mix
    float g = 0;
    bool blancoNegro = false;
    float mix[3] = {0, 0, 0};
    std::vector<float> tablaMapa;
    OutputFormat format = OutputFormat::Tiff16;

    bool operator==(const FramesState&) const = default;
};
FramesState framesState(const ImageSet& set);
