// The record --skip-done compares: written and compared from the settings'
// one table, so every field that shapes a set's files makes a set redone.
#include "batch/batch_options.h"
#include "batch/set_record.h"
#include "tests/common/qt_printers.h"

#include <gtest/gtest.h>
#include <QSet>
#include <QTemporaryDir>

namespace {

// Changes one recorded value, whatever its type.
struct Change {
    void operator()(int& v) const { ++v; }
    void operator()(bool& v) const { v = !v; }
    void operator()(QString& v) const { v += QStringLiteral("x"); }
    void operator()(std::array<QString, 3>& v) const { v[1] += QStringLiteral("0"); }
    void operator()(DecoderSetting& v) const {
        v = static_cast<DecoderSetting>((static_cast<int>(v) + 1) % 3);
    }
    void operator()(BlendMerge& v) const {
        v = v == BlendMerge::Select ? BlendMerge::Weighted : BlendMerge::Select;
    }
    void operator()(OutputFormat& v) const {
        v = v == OutputFormat::Tiff16 ? OutputFormat::ExrHalf : OutputFormat::Tiff16;
    }
};

class SetRecordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        record = dir.filePath("IMG_0001.dng.orrindale.json");
    }
    bool write(const SetSettings& s) {
        return writeRecord(record, SetRecord{dir.filePath("IMG_0001.dng"), {}, recordedSettings(s),
                                             {}, {0.0, 2.0}, 1.5});
    }
    QTemporaryDir dir;
    QString record;
};

TEST_F(SetRecordTest, EveryRecordedFieldChangedAloneMakesTheSetRedone) {
    const SetSettings defaults = defaultSettings();
    ASSERT_TRUE(write(defaults));
    QString why;
    ASSERT_TRUE(recordSaysDone(record, recordedSettings(defaults), why)) << why.toStdString();

    QSet<QString> keys;
    int fields = 0;
    forEachRecordedField(defaults, [&](const char* key, const auto&) {
        keys.insert(QString::fromLatin1(key));
        ++fields;
    });
    // One key per field: two fields under one key would hide a change.
    EXPECT_EQ(keys.size(), fields);
    EXPECT_GE(fields, 26);

    for (int changed = 0; changed < fields; ++changed) {
        SetSettings s = defaults;
        int index = 0;
        QString name;
        forEachRecordedField(s, [&](const char* key, auto& value) {
            if (index++ == changed) {
                Change()(value);
                name = QString::fromLatin1(key);
            }
        });
        EXPECT_FALSE(recordSaysDone(record, recordedSettings(s), why)) << name.toStdString();
        EXPECT_EQ(why, "the settings differ from the earlier run's") << name.toStdString();
    }
}

// What follows from other settings is not a setting of its own: the same
// record whichever front end derived it.
TEST_F(SetRecordTest, DerivedSettingsFollowTheRecordedOnes) {
    SetSettings s = defaultSettings();
    s.develop.modoWB = kWBCamara;
    s.develop.perfil = 4;  // ProPhoto RGB
    s.mapFile = dir.filePath("Map.png");
    deriveSettings(s);
    EXPECT_TRUE(s.map.balanceCamara);
    EXPECT_EQ(s.map.txtWB, s.develop.txtWB);
    EXPECT_EQ(s.blend.perfil, "ProPhoto RGB");
    EXPECT_EQ(s.blend.gamma, 18);
    EXPECT_EQ(s.blend.rutaMapa, s.mapFile);
    s.blend.gamma = 25;
    s.gammaChosen = true;
    deriveSettings(s);
    EXPECT_EQ(s.blend.gamma, 25);

    // The batch's options fill the same record the same way.
    QFile(dir.filePath("IMG_0001.dng")).open(QIODevice::WriteOnly);
    const ParsedOptions p =
        parseBatchOptions({"--wb", "camera", "--profile", "ProPhoto RGB", "--gamma", "2.5",
                           "--map", s.mapFile, dir.filePath("IMG_0001.dng")});
    ASSERT_FALSE(p.options) << "the map file does not exist yet";
    QFile(s.mapFile).open(QIODevice::WriteOnly);
    const ParsedOptions q =
        parseBatchOptions({"--wb", "camera", "--profile", "ProPhoto RGB", "--gamma", "2.5",
                           "--map", s.mapFile, dir.filePath("IMG_0001.dng")});
    ASSERT_TRUE(q.options) << q.error.toStdString();
    EXPECT_EQ(recordedSettings(*q.options), recordedSettings(s));
}

}  // namespace
