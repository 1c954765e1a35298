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
    for (const char* name : {"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2", "other.NEF"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString three = dir.filePath("IMG_2.CR2"), one = dir.filePath("other.NEF");
    struct Case {
        QStringList args;
        bool deghost;
        int ref;
        QString error;  // part of the usage error, "" when it parses
    };
    const Case cases[] = {
        {{three}, false, 0, ""},
        {{"--deghost", three}, true, 0, ""},
        {{"--deghost-ref", "3", three}, true, 3, ""},
        {{"--deghost", "--deghost-ref", "1", three, one}, true, 1, ""},
        {{"--deghost-ref", "0", three},
         false,
         0,
         "--deghost-ref takes a whole number from 1 to 10"},
        {{"--deghost-ref", "11", three}, false, 0, "from 1 to 10, not '11'"},
        {{"--deghost-ref", "x", three}, false, 0, "--deghost-ref"},
        {{"--deghost-ref", three}, false, 0, "--deghost-ref"},
        {{"--deghost-ref", "4", three},
         false,
         0,
         "--deghost-ref 4: the set of IMG_2.CR2 has 3 images"},
        {{"--deghost-ref", "2", three, one}, false, 0, "the set of other.NEF has 1 image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(" ").toStdString());
        const ParsedOptions p = parseBatchOptions(c.args);
        if (!c.error.isEmpty()) {
            EXPECT_FALSE(p.options);
            EXPECT_TRUE(p.error.contains(c.error)) << p.error.toStdString();
            continue;
        }
        ASSERT_TRUE(p.options) << p.error.toStdString();
        EXPECT_EQ(p.options->map.deghost, c.deghost);
        EXPECT_EQ(p.options->map.deghostRef, c.ref);
    }
    EXPECT_TRUE(batchUsage().contains("--deghost-ref K"));
}

}  // namespace
