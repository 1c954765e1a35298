// Where the files of one set go and how they are named: beside the reference
// with the time of day in their names (the window's way), or in a folder of
// their own with names that do not depend on the clock.
#pragma once

#include <QString>

struct OutputPlace {
    // The folder every file of the set goes to, ending in "/"; empty: the
    // reference's folder.
    QString folder;
    // Names led by this (the reference's name without extension) instead of
    // carrying the time of day; empty: "Map_104512.png" and the like.
    QString stem;
};

// The folder the set's files go to.
QString outputFolder(const OutputPlace& place, const QString& rutaReferencia);

// A file name of the set made of a kind ("Map", "His", "OD_BW", ...) and the
// rest of its name: "Map_104512.png" with the time of day taken now, or
// "IMG_0003_Map.png" with a stem.
QString outputFileName(const OutputPlace& place, const QString& kind, const QString& rest);
