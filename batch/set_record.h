// The completion record a finished set leaves in its output folder, so that a
// batch run again with the same settings can skip it.
#pragma once

#include "batch/batch_options.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

// "<reference name>.orrindale.json".
QString recordFileName(const QString& reference);

// What tells one set from another: the names and sizes of its RAW files.
QJsonArray setIdentity(const QString& reference);

struct SetRecord {
    QString reference;
    QJsonArray identity;  // setIdentity(reference)
    QJsonObject settings;  // recordedSettings() of the run
    QStringList files;       // full paths of the files the run wrote
    std::vector<double> ev;  // each frame's exposure in EV over the least exposed
    double seconds = 0;
};

// Writes the record atomically: a stopped run leaves none. False on failure.
bool writeRecord(const QString& path, const SetRecord& record);

// The reference of another set whose record is at `path`: a set with other
// RAW files whose folder under --out has the same name. Empty otherwise.
QString recordOfAnotherSet(const QString& path, const QJsonArray& identity);

// Whether the record at `path` says the set is done with `settings`. Empty
// `why` and false: no record. Otherwise `why` says why the set is redone
// ("damaged", another version, other settings, files gone).
bool recordSaysDone(const QString& path, const QJsonObject& settings, QString& why);
