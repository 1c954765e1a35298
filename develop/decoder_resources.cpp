// Pixel estimate of a RAW file from its header, free memory, usable cores.
#include "develop/decoder_resources.h"

#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

namespace {

// Reads the IFD structure of a TIFF-like file without decoding anything.
class IfdWalker {
  public:
    explicit IfdWalker(QFile& file) : file_(file) {}

    // Largest width x height declared by any IFD; 0 when the file is not
    // TIFF-structured or declares none.
    qint64 largestImage() {
        QByteArray head = readAt(0, 8);
        if (head.size() < 8) return 0;
        if (head.startsWith("II"))
            little_ = true;
        else if (head.startsWith("MM"))
            little_ = false;
        else
            return 0;
        // 42 for TIFF and its RAW cousins; Olympus and Panasonic put their own
        // mark here over the same structure.
        const uint16_t magic = u16(head, 2);
        if (magic != 42 && magic != 0x4f52 && magic != 0x5352 && magic != 0x55) return 0;
        std::vector<uint32_t> pending{u32(head, 4)};
        std::set<uint32_t> seen;
        qint64 largest = 0;
        // A bounded walk: a broken or hostile file cannot make it loop.
        while (!pending.empty() && seen.size() < kMaxIfds) {
            const uint32_t offset = pending.back();
            pending.pop_back();
            if (offset < 8 || !seen.insert(offset).second) continue;
            largest = std::max(largest, readIfd(offset, pending));
        }
        return largest;
    }

  private:
    static constexpr size_t kMaxIfds = 64;
    static constexpr uint16_t kMaxEntries = 1000;

    QByteArray readAt(qint64 offset, qint64 bytes) {
        if (!file_.seek(offset)) return {};
        return file_.read(bytes);
    }
    uint16_t u16(const QByteArray& b, int at) const {
        const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
        return little_ ? static_cast<uint16_t>(p[0] | p[1] << 8)
                       : static_cast<uint16_t>(p[0] << 8 | p[1]);
    }
    uint32_t u32(const QByteArray& b, int at) const {
        const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
        return little_ ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                          uint32_t{p[3]} << 24)
                       : (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
                          uint32_t{p[3]});
    }
    // A SHORT or LONG value stored in the entry itself.
    uint32_t inlineValue(const QByteArray& entry) const {
        const uint16_t type = u16(entry, 2);
        if (type == 3) return u16(entry, 8);
        if (type == 4 || type == 13) return u32(entry, 8);
        return 0;
    }

    // Queues the IFD's SubIFDs and the next IFD; returns its declared size.
    qint64 readIfd(uint32_t offset, std::vector<uint32_t>& pending) {
        const QByteArray countBytes = readAt(offset, 2);
        if (countBytes.size() < 2) return 0;
        const uint16_t count = u16(countBytes, 0);
        if (count == 0 || count > kMaxEntries) return 0;
        const QByteArray entries = readAt(offset + 2, qint64{count} * 12 + 4);
        if (entries.size() < qint64{count} * 12 + 4) return 0;
        qint64 width = 0, height = 0;
        for (int i = 0; i < count; ++i) {
            const QByteArray e = entries.mid(i * 12, 12);
            const uint16_t tag = u16(e, 0);
            const uint32_t n = u32(e, 4);
            if (tag == 256) width = inlineValue(e);
            if (tag == 257) height = inlineValue(e);
            if (tag == 330 && n >= 1) {
                if (n == 1) {
                    pending.push_back(inlineValue(e));
                } else {
                    const QByteArray list =
                        readAt(u32(e, 8), qint64{std::min<uint32_t>(n, 16)} * 4);
                    for (int k = 0; k + 4 <= list.size(); k += 4) pending.push_back(u32(list, k));
                }
            }
        }
        pending.push_back(u32(entries, count * 12));
        return width * height;
    }

    QFile& file_;
    bool little_ = true;
};

}  // namespace

qint64 rawPixelEstimate(const QString& rawPath) {
    QFile file(rawPath);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const qint64 declared = IfdWalker(file).largestImage();
    return declared > 0 ? declared : file.size();
}

qint64 availableMemoryBytes() {
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly | QIODevice::Text)) return -1;
    // Read whole: /proc files report a size of 0, so line reads are the safe way.
    const QList<QByteArray> lines = meminfo.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("MemAvailable:")) continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool ok = false;
        const qint64 kib = fields.size() >= 2 ? fields[1].toLongLong(&ok) : 0;
        return ok ? kib * 1024 : -1;
    }
    return -1;
}

int availableCores() {
    return std::max(1, QThread::idealThreadCount());
}
