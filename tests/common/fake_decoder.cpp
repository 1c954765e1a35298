// The stand-in decoder of the development tests.
#include "tests/common/fake_decoder.h"

#include "support/tiff_io.h"
#include "tests/common/test_images.h"

#include <QFile>
#include <algorithm>

FakeDecoder::FakeDecoder() {
    clock_.start();
}

double FakeDecoder::now() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e6;
}

bool FakeDecoder::identifies(const Decoder& decoder, const QString& rawPath) {
    const QString name = rawPath.mid(rawPath.lastIndexOf(QLatin1Char('/')) + 1);
    const bool libRaw = decoder.kind == DecoderKind::LibRaw;
    identifications << (libRaw ? QStringLiteral("LibRaw ") : QStringLiteral("dcraw ")) + name;
    return !(libRaw ? libRawCannotRead : dcrawCannotRead).contains(name);
}

DcrawRun FakeDecoder::start(const QString& program, const QStringList& arguments) {
    Call call;
    call.program = program;
    call.arguments = arguments;
    call.pid = 1000 + static_cast<qint64>(calls.size());
    call.startMs = now();
    if (messages && !arguments.isEmpty()) {
        call.messagesPath = messagesDir_.filePath(QStringLiteral("run-%1.log").arg(call.pid));
        writeBytes(call.messagesPath, messages(arguments.back()));
    }
    calls.push_back(call);
    DcrawRun run;
    run.pid = call.pid;
    run.messagesPath = call.messagesPath;
    return run;
}

FakeDecoder::Call* FakeDecoder::find(qint64 pid) const {
    for (const Call& c : calls)
        if (c.pid == pid) return const_cast<Call*>(&c);
    return nullptr;
}

void FakeDecoder::finish(Call& call, bool writeTiff) const {
    if (call.endMs >= 0) return;
    const QString raw = call.arguments.isEmpty() ? QString() : call.arguments.back();
    if (writeTiff && develop) develop(raw);
    call.endMs = now();
}

bool FakeDecoder::ended(const DcrawRun& run) const {
    Call* call = find(run.pid);
    if (!call) return true;
    if (call->endMs >= 0) return true;
    const QString raw = call->arguments.isEmpty() ? QString() : call->arguments.back();
    auto tiffWritten = [&] {
        const QString tiff = tiffDeRaw(raw);
        return QFile::exists(tiff) && tiffFileIsComplete(tiff);
    };
    if (hasEnded || (endWhenTiffWritten && tiffWritten())) {
        finish(*call, false);
    } else if (durationMs > 0 && now() - call->startMs >= durationMs) {
        const QString name = raw.mid(raw.lastIndexOf(QLatin1Char('/')) + 1);
        finish(*call, !failing.contains(name));
    }
    return call->endMs >= 0;
}

void FakeDecoder::end(size_t index, bool writeTiff) {
    finish(calls.at(index), writeTiff);
}

int FakeDecoder::maxOverlap() const {
    int most = 0;
    for (const Call& a : calls) {
        int n = 0;
        for (const Call& b : calls)
            if (b.startMs <= a.startMs && (b.endMs < 0 || b.endMs > a.startMs)) ++n;
        most = std::max(most, n);
    }
    return most;
}

int FakeDecoder::startsOf(const QString& rawPath) const {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call& c) {
        return !c.arguments.isEmpty() && c.arguments.back() == rawPath;
    }));
}
