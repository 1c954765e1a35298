// --deghost and --deghost-ref: their settings, and a reference the given
// set does not have as a usage error.
#include "batch/batch_options.h"
#include "tests/common/qt_printers.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

TEST(DeghostOptions, ReachTheMapSettingsAndCheckTheReference) {
    QTemporaryDir dir;
    for (const char* name : {"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2", "other.NEF"})
        ASSERT_TRUE(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
    const QString three = dir.filePath("IMG_2.CR2"), one = dir.filePath("other.NEF");
    struct Case {
        QStringList args;
        int ref;        // -1: off
        QString error;  // part of the usage error
    };
    const Case cases[] = {
        {{three}, -1, ""},
        {{"--deghost", three}, 0, ""},
        {{"--deghost-ref", "3", three}, 3, ""},
        {{"--deghost-ref", "0", three}, 0, "--deghost-ref takes a whole number from 1 to 10"},
        {{"--deghost-ref", "11", three}, 0, "from 1 to 10, not '11'"},
        {{"--deghost-ref", "4", three}, 0, "--deghost-ref 4: the set of IMG_2.CR2 has 3 images"},
        {{"--deghost-ref", "2", three, one}, 0, "the set of other.NEF has 1 image"},
    };
    for (const Case& c : cases) {
        const ParsedOptions p = parseBatchOptions(c.args);
        EXPECT_TRUE(p.error.contains(c.error) && p.options.has_value() == c.error.isEmpty())
            << c.args.join(" ").toStdString() << ": " << p.error.toStdString();
        if (!p.options) continue;
        EXPECT_EQ(p.options->map.deghost, c.ref >= 0);
        EXPECT_EQ(p.options->map.deghostRef, std::max(c.ref, 0));
    }
    EXPECT_TRUE(batchUsage().contains("--deghost-ref K"));
}

}  // namespace
