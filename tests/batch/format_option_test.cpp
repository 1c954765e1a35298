// --format: every output format by its name, any letter case; a name it does
// not know and a gamma for a format without one are usage errors.
#include "batch/batch_options.h"
#include "pipeline/output_formats.h"

#include <gtest/gtest.h>
#include <QTemporaryFile>

namespace {

TEST(FormatOptionTest, NamesAndMistakes) {
    QTemporaryFile raw;
    ASSERT_TRUE(raw.open());
    EXPECT_TRUE(parseBatchOptions({raw.fileName()}).options->blend.format == OutputFormat::Tiff16);
    for (const OutputFormatInfo& f : outputFormats())
        for (const QString& name : {QString(f.key), QString(f.key).toUpper()}) {
            const ParsedOptions p = parseBatchOptions({"--format", name, raw.fileName()});
            ASSERT_TRUE(p.options) << p.error.toStdString();
            EXPECT_TRUE(p.options->blend.format == f.format) << f.key;
            // Passed on to a child that runs the set.
            EXPECT_EQ(p.options->setArguments, (QStringList{"--format", name}));
        }
    EXPECT_TRUE(parseBatchOptions({"--format", "jpeg", raw.fileName()})
                    .error.startsWith("--format takes tiff,"));
    EXPECT_TRUE(parseBatchOptions({"--format", "exr", "--gamma", "2.2", raw.fileName()})
                    .error.startsWith("--gamma"));
    EXPECT_TRUE(parseBatchOptions({"--gamma", "1.8", "--format", "tiff", raw.fileName()}).options);
    EXPECT_TRUE(batchUsage().contains("--format"));
}

}  // namespace
