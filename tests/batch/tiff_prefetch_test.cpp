// Decoding developed frames while the others still develop: only developed
// files, each once, and only whole decodes reach the set.
#include "pipeline/tiff_prefetch.h"

#include "develop/decoder_pool.h"
#include "tests/common/fake_decoder.h"
#include "tests/common/test_images.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <QThread>

namespace {

TEST(TiffPrefetchTest, DecodesWhatIsDevelopedAndHandsItToTheSet) {
    QTemporaryDir dir;
    std::vector<DecoderJob> jobs;
    for (const char* name : {"a.CR3", "b.CR3", "c.CR3"}) {
        const QString raw = dir.filePath(name);
        jobs.push_back(DecoderJob{{}, raw, tiffDeRaw(raw), 0});
    }
    FakeDecoder fake;
    DecoderPool pool;
    pool.reset(Decoder::libRaw(), jobs, {3, -1});
    pool.startDue(fake);
    const GflBitmap a = randomBitmap(8, 6, 1);
    writeBytes(jobs[0].tiff, headerFirstTiff(a));
    writeBytes(jobs[1].tiff, "not a TIFF");  // decodes badly: left to the load
    pool.settle(0, DecoderPool::Stage::Developed);
    pool.settle(1, DecoderPool::Stage::Developed);

    TiffPrefetch prefetch;
    prefetch.take(pool);
    for (int ms = 0; ms < 5000 && !prefetch.idle(); ms += 10) QThread::msleep(10);
    ImageSet set;
    prefetch.finish(set);
    ASSERT_EQ(set.TIFFsPrecargados.size(), 1u);
    EXPECT_EQ(set.TIFFsPrecargados[0].path, jobs[0].tiff);
    EXPECT_EQ(set.TIFFsPrecargados[0].stamp, fileStamp(jobs[0].tiff));
    EXPECT_EQ(set.TIFFsPrecargados[0].image.pixels, a.pixels);
}

}  // namespace
