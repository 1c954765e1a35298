// The image set of one "Calc EV" run as the window and the batch hold it: the
// frames every stage reads, and beside them what single stages own: frames
// decoded ahead for the loader, the map's decoding table, what shaped the
// last output, and where the set's files go. Owned by the front end and
// handed to the pipeline's procedures.
#pragma once

#include "blend/frame_match.h"
#include "exposure/frame_loading.h"
#include "maps/maps.h"
#include "set/frame_set.h"
#include "set/motion.h"
#include "support/output_place.h"

struct ImageSet : FrameSet, PreloadedFrames, MapDecoding {
    // Where the set's developed TIFFs and every file made from them go, and
    // how those are named. Left empty by the window: beside the RAW files.
    // Loads and releases keep it.
    OutputPlace place;
    // The last blend of these frames (factors, gamma, mix, map); every load
    // empties it, so frames are never matched to another set's output.
    BlendRecord lastBlend;
    // The moving areas the last map was built with, and that map's path: a
    // weighted merge through it averages only the images each area allows.
    // Every build and every load replaces them.
    MotionAreas motion;
    QString motionMap;

    bool tablaMapaValida() const { return decodes(ImagenesTIFF.size()); }
    // The areas of the map at `rutaMapa`, when it was built with some.
    const MotionAreas* motionOf(const QString& rutaMapa) const {
        return !motion.none() && !motionMap.isEmpty() && rutaMapa == motionMap ? &motion : nullptr;
    }
    void forgetMotion() {
        motion = MotionAreas();
        motionMap.clear();
    }
};
