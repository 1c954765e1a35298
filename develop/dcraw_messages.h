// The messages of several decoder runs as one stream of lines, each line
// prefixed by the RAW file it is about, read as the processes print them.
#pragma once

#include "develop/dcraw_process.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

class DcrawMessageFeed {
  public:
    // Forgets every run (what they print from now on is not read).
    void clear();
    // Follows a run from the start of its messages (and of its progress
    // output, when kept); a file already followed is ignored.
    void follow(const DcrawRun& run);
    // The lines printed since the last call, each as "name: line", in the
    // order they were read. Only whole lines unless `flush`, which also takes
    // what a run printed without a final line end.
    QStringList readNew(bool flush = false);

  private:
    struct Source {
        QString path;
        QString name;
        qint64 offset = 0;
        QByteArray partial;  // printed but not yet ended by a line break
    };
    std::vector<Source> sources_;
};
