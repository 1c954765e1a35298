// Completion records: a small JSON file written last, read back by --skip-done.
#include "batch/set_record.h"

#include "develop/raw_set.h"
#include "orrindale_version.h"
#include "support/paths.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

const QString kProgram = QStringLiteral("orrindale-batch");

}  // namespace

QJsonArray setIdentity(const QString& reference) {
    const QFileInfo info(reference);
    const QString folder = info.absolutePath() + QLatin1Char('/');
    const QStringList raws = listRawFolder(folder, info.suffix());
    QJsonArray identity;
    for (qsizetype k = 0; k < std::min<qsizetype>(raws.size(), kMaxArchivosRAW); ++k)
        identity.append(
            QJsonObject{{"name", raws[k]}, {"size", QFileInfo(folder + raws[k]).size()}});
    return identity;
}

QString recordOfAnotherSet(const QString& path, const QJsonArray& identity) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) return {};
    const QJsonObject root = QJsonDocument::fromJson(in.read(1 << 20)).object();
    const QJsonValue theirs = root.value("raw");
    if (!theirs.isArray() || theirs.toArray() == identity) return {};
    return root.value("reference").toString();
}

QString recordFileName(const QString& reference) {
    return NombreArchivo(reference) + QStringLiteral(".orrindale.json");
}

bool writeRecord(const QString& path, const SetRecord& record) {
    QJsonArray files;
    for (const QString& f : record.files)
        files.append(QJsonObject{{"name", NombreArchivo(f)}, {"size", QFileInfo(f).size()}});
    QJsonArray ev;
    for (double e : record.ev) ev.append(e);
    const QJsonObject root{{"program", kProgram},
                           {"reference", record.reference},
                           {"raw", record.identity},
                           {"version", QStringLiteral(ORRINDALE_VERSION)},
                           {"settings", record.settings},
                           {"files", files},
                           {"ev", ev},
                           {"seconds", record.seconds}};
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    return out.commit();
}

bool recordSaysDone(const QString& path, const QJsonObject& settings, QString& why) {
    why.clear();
    QFile in(path);
    if (!in.exists()) return false;
    if (!in.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("its record of an earlier run cannot be read");
        return false;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(in.read(1 << 20));
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value("program").toString() != kProgram ||
        !root.value("settings").isObject() || !root.value("files").isArray()) {
        why = QStringLiteral("its record of an earlier run is damaged");
        return false;
    }
    const QString version = root.value("version").toString();
    if (version != QStringLiteral(ORRINDALE_VERSION)) {
        why = QStringLiteral("its record is from version ") +
              (version.isEmpty() ? QStringLiteral("unknown") : version);
        return false;
    }
    if (root.value("settings").toObject() != settings) {
        why = QStringLiteral("the settings differ from the earlier run's");
        return false;
    }
    // A file the earlier run wrote that is gone or cut short is made again.
    const QString folder = CarpetaArchivo(path);
    for (const QJsonValue& v : root.value("files").toArray()) {
        const QJsonObject f = v.toObject();
        const QFileInfo info(folder + f.value("name").toString());
        if (f.value("name").toString().isEmpty() || !info.isFile() ||
            info.size() != f.value("size").toInteger(-1)) {
            why = QStringLiteral("a file of the earlier run is missing or changed");
            return false;
        }
    }
    return true;
}
