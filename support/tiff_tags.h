// Descriptive tags an output TIFF may carry besides its pixels: colour profile,
// camera, date, what was made and the shot's exposure data.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The shot's exposure data as EXIF states it. A missing value stays empty;
// readers leave out values that are zero, which cameras write for "unknown".
struct ExifShot {
    std::optional<double> exposureTime;  // seconds
    std::optional<double> fNumber;       // aperture, f/...
    std::optional<int> iso;              // ISO speed rating
    std::optional<double> focalLength;   // millimetres

    bool empty() const { return !exposureTime && !fNumber && !iso && !focalLength; }
};

// Tags written with the pixels. Empty members are not written, so a
// default-constructed TiffTags adds nothing; Software is always written by the
// writer itself ("Orrindale" and the version).
struct TiffTags {
    QByteArray iccProfile;  // complete ICC profile (tag 34675)
    QString make;
    QString model;
    QString dateTime;     // "YYYY:MM:DD HH:MM:SS", copied as found
    QString description;  // ImageDescription: one line
    ExifShot exif;        // an EXIF directory, only when something is set

    bool empty() const {
        return iccProfile.isEmpty() && make.isEmpty() && model.isEmpty() && dateTime.isEmpty() &&
               description.isEmpty() && exif.empty();
    }
};
