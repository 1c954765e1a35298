// The settings record's defaults, derived settings and recorded form.
#include "pipeline/set_settings.h"

#include "pipeline/output_formats.h"
#include "support/field_count.h"

#include <QJsonArray>

namespace {

// Every member of a settings struct is in its table, recorded or not.
template <class T>
constexpr bool listedWhole() {
    return std::tuple_size_v<decltype(SettingsFields<T>::recorded)> +
               std::tuple_size_v<decltype(SettingsFields<T>::unrecorded)> ==
           fieldCount<T>();
}
static_assert(listedWhole<DevelopSettings>(), "a development setting is missing from its table");
static_assert(listedWhole<AlignSettings>(), "an alignment setting is missing from its table");
static_assert(listedWhole<MapSettings>(), "a map setting is missing from its table");
static_assert(listedWhole<BlendSettings>(), "a blend setting is missing from its table");
static_assert(listedWhole<SetSettings>(), "a setting is missing from the record's table");

QJsonValue recordedValue(const QString& v) { return v; }
QJsonValue recordedValue(bool v) { return v; }
QJsonValue recordedValue(int v) { return v; }
QJsonValue recordedValue(DecoderSetting v) { return static_cast<int>(v); }
QJsonValue recordedValue(BlendMerge v) { return static_cast<int>(v); }
QJsonValue recordedValue(OutputFormat v) { return QLatin1String(formatInfo(v).key); }
QJsonValue recordedValue(const std::array<QString, 3>& v) { return QJsonArray{v[0], v[1], v[2]}; }

}  // namespace

SetSettings defaultSettings() {
    SetSettings s;
    s.develop.modoWB = kWBPreset;
    presetWB(kDefaultPresetWB, s.develop.txtWB);
    presetSaturacion(kDefaultSaturationPreset, s.develop.txtSat);
    deriveSettings(s);
    return s;
}

void deriveSettings(SetSettings& s) {
    s.map.balanceCamara = s.develop.modoWB == kWBCamara;
    s.map.txtWB = s.develop.txtWB;
    s.map.headroom = s.develop.headroom;
    s.blend.perfil = itemsPerfil().value(s.develop.perfil);
    if (!s.gammaChosen) s.blend.gamma = gammaParaPerfil(s.develop.perfil);
    // A blend goes through the chosen map; without one, through the map the
    // set's build writes (the pipeline puts it here).
    s.blend.rutaMapa = s.mapFile;
}

QJsonObject recordedSettings(const SetSettings& s) {
    QJsonObject record;
    forEachRecordedField(s, [&record](const char* key, const auto& value) {
        record.insert(QLatin1String(key), recordedValue(value));
    });
    return record;
}
