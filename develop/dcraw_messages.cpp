// Reading what each decoder process printed, a little at a time.
#include "develop/dcraw_messages.h"

#include <QFile>

void DcrawMessageFeed::clear() {
    sources_.clear();
}

void DcrawMessageFeed::follow(const DcrawRun& run) {
    // dcraw_emu's progress (standard output) is a source of its own.
    for (const QString& path : {run.messagesPath, run.progressPath}) {
        if (path.isEmpty()) continue;
        bool known = false;
        for (const Source& s : sources_) known = known || s.path == path;
        if (!known) sources_.push_back(Source{path, run.rawName, 0, {}});
    }
}

QStringList DcrawMessageFeed::readNew(bool flush) {
    QStringList lines;
    for (Source& s : sources_) {
        QFile file(s.path);
        if (file.open(QIODevice::ReadOnly) && file.seek(s.offset)) {
            const QByteArray more = file.readAll();
            s.offset += more.size();
            s.partial += more;
        }
        qsizetype from = 0;
        for (qsizetype end; (end = s.partial.indexOf('\n', from)) >= 0; from = end + 1) {
            const QString line = QString::fromLocal8Bit(s.partial.mid(from, end - from)).trimmed();
            if (!line.isEmpty()) lines << s.name + QStringLiteral(": ") + line;
        }
        s.partial.remove(0, from);
        if (flush && !s.partial.trimmed().isEmpty())
            lines << s.name + QStringLiteral(": ") + QString::fromLocal8Bit(s.partial).trimmed();
        if (flush) s.partial.clear();
    }
    return lines;
}
