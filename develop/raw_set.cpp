// Listing the RAW file set of a folder.
#include "develop/raw_set.h"

#include "support/paths.h"
#include "support/reporter.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

QStringList rawExtensions() {
    // LibRaw's formats, which include all of dcraw's.
    return {QStringLiteral("3fr"), QStringLiteral("ari"), QStringLiteral("arw"),
            QStringLiteral("bay"), QStringLiteral("bmq"), QStringLiteral("cap"),
            QStringLiteral("cine"), QStringLiteral("cr2"), QStringLiteral("cr3"),
            QStringLiteral("crw"), QStringLiteral("cs1"), QStringLiteral("dc2"),
            QStringLiteral("dcr"), QStringLiteral("dng"), QStringLiteral("erf"),
            QStringLiteral("fff"), QStringLiteral("gpr"), QStringLiteral("ia"),
            QStringLiteral("iiq"), QStringLiteral("k25"), QStringLiteral("kc2"),
            QStringLiteral("kdc"), QStringLiteral("mdc"), QStringLiteral("mef"),
            QStringLiteral("mos"), QStringLiteral("mrw"), QStringLiteral("nef"),
            QStringLiteral("nrw"), QStringLiteral("orf"), QStringLiteral("ori"),
            QStringLiteral("pef"), QStringLiteral("pxn"), QStringLiteral("qtk"),
            QStringLiteral("raf"), QStringLiteral("raw"), QStringLiteral("rdc"),
            QStringLiteral("rw2"), QStringLiteral("rwl"), QStringLiteral("rwz"),
            QStringLiteral("sr2"), QStringLiteral("srf"), QStringLiteral("srw"),
            QStringLiteral("sti"), QStringLiteral("x3f")};
}

QStringList listRawFolder(const QString& folder, const QString& extension) {
    QDir dir(folder);
    const QStringList all =
        dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    const QString suffix = QLatin1Char('.') + extension;
    QStringList names;
    for (const QString& name : all)
        if (!name.startsWith(QLatin1Char('.')) && name.endsWith(suffix, Qt::CaseInsensitive))
            names.push_back(name);
    return names;
}

RawListing LeerArchivosRAW(const QString& reference, QStringList& archivosRAW,
                           Reporter& reporter) {
    RawListing result{reference, QString()};
    try {
        const QString folder = CarpetaArchivo(reference);
        const QStringList names = listRawFolder(folder, ExtensionArchivo(reference));
        result.listed = true;
        int count = 0;
        for (const QString& name : names) {
            ++count;
            if (count > kMaxArchivosRAW) {
                // The limit is only reached when an eleventh file exists: a folder
                // of exactly ten keeps them all and the chosen reference.
                result.reference = folder + archivosRAW[kMaxArchivosRAW - 1];
                reporter.MostrarError(QStringLiteral("No more than ") +
                                      QString::number(kMaxArchivosRAW) +
                                      QStringLiteral(" RAW files allowed. ") +
                                      QStringLiteral(" Only the current ") +
                                      QString::number(kMaxArchivosRAW) +
                                      QStringLiteral(" files are selected"));
                break;
            }
            if (count == 1) archivosRAW.clear();
            archivosRAW.push_back(name);
            result.filesText += name + QStringLiteral("\r\n");
            reporter.EscribirEstado(QString::number(count) + QStringLiteral(" RAW files selected in path"),
                                    false);
        }
    } catch (...) {
        reporter.InformarError(QStringLiteral("LeerArchivosRAW"));
    }
    reporter.processEvents();
    return result;
}

void AvisarDCRAWNoEncontrado(Reporter& reporter, const QString& rutaDCRAW) {
    reporter.MostrarError(QStringLiteral("DCRAW not found in '") + rutaDCRAW + QStringLiteral("'"));
}
