// --decoder: the three settings by their short names, any letter case.
#include "batch/batch_options.h"

#include <gtest/gtest.h>
#include <QTemporaryFile>

namespace {

TEST(DecoderOptionTest, NamesAndMistakes) {
    QTemporaryFile raw;
    ASSERT_TRUE(raw.open());
    EXPECT_EQ(parseBatchOptions({raw.fileName()}).options->decoder, DecoderSetting::Automatic);
    for (const auto& [name, setting] : {std::pair{"auto", DecoderSetting::Automatic},
                                        {"DCRAW", DecoderSetting::Dcraw},
                                        {"LibRaw", DecoderSetting::LibRaw}})
        EXPECT_EQ(parseBatchOptions({"--decoder", name, raw.fileName()}).options->decoder, setting);
    EXPECT_EQ(parseBatchOptions({"--decoder", "rawtherapee", raw.fileName()}).error,
              "--decoder takes auto, dcraw or libraw; not 'rawtherapee'");
}

}  // namespace
