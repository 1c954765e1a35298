// One record of everything that shapes a set's files: development, decoder,
// alignment, map, merge, blend and outputs. The window fills it from its
// controls, the batch from its options; the stages take their parts of it.
// Its defaults are the window's at start-up, written once (defaultSettings),
// and the settings that follow from others are set by deriveSettings alone.
#pragma once

#include "align/align.h"
#include "blend/blend.h"
#include "develop/dcraw_command.h"
#include "develop/decoder.h"
#include "maps/maps.h"

#include <QJsonObject>
#include <QString>
#include <tuple>

struct SetSettings {
    DevelopSettings develop;  // the decoder's options are made from it
    bool hlRecovery = false;  // re-develop the least exposed file with highlight recovery
    DecoderSetting decoder = DecoderSetting::Automatic;
    bool noDevelop = false;    // use the TIFF files already beside the RAW files
    bool metodoMedia = false;  // relative exposures: Average (true) or Median
    AlignSettings align;
    MapSettings map;  // its white balance follows the development's
    QString mapFile;  // blend through this map instead of building one
    BlendSettings blend;
    // blend.gamma was chosen; otherwise it is the output profile's.
    bool gammaChosen = false;
    bool noBlend = false;       // stop after the map
    bool contactSheet = false;  // also the B&W contact sheet
    bool stableNames = false;   // names led by the reference, without the time of day
};

// The lists' items the window starts with, which the defaults' texts come from.
constexpr int kDefaultPresetWB = 2;          // Daylight
constexpr int kDefaultSaturationPreset = 0;  // dcraw's own saturation level

// The window's start-up settings, which are also the batch's defaults.
SetSettings defaultSettings();

// Sets what follows from other settings: the map's thresholds use the
// development's multipliers, the output is named after its colour profile,
// its gamma is the profile's unless one was chosen, and the blend reads the
// chosen map.
void deriveSettings(SetSettings& s);

// The settings as the record of a finished set holds them (one key per
// recorded field, see below), for --skip-done to compare.
QJsonObject recordedSettings(const SetSettings& s);

// ---- The table of fields ----
// Every member of each settings struct is listed once: either recorded under
// a key (a nested struct under no key, its own fields flattened), or not
// recorded because it follows from recorded ones or shapes nothing by itself.
// The static_asserts in set_settings.cpp check the lists against the structs.

template <class Owner, class T>
struct RecordedField {
    const char* key;  // nullptr: a nested settings struct
    T Owner::*member;
};
template <class Owner, class T>
struct UnrecordedField {
    T Owner::*member;
};

template <class Owner>
struct SettingsFields;

template <>
struct SettingsFields<DevelopSettings> {
    using S = DevelopSettings;
    static constexpr auto recorded = std::make_tuple(
        RecordedField<S, int>{"wb_mode", &S::modoWB},
        RecordedField<S, std::array<QString, 3>>{"wb", &S::txtWB},
        RecordedField<S, QString>{"saturation", &S::txtSat},
        RecordedField<S, int>{"quality", &S::calidad}, RecordedField<S, int>{"profile", &S::perfil},
        RecordedField<S, QString>{"dcraw_options", &S::txtDCRAW},
        RecordedField<S, bool>{"headroom", &S::headroom});
    static constexpr auto unrecorded = std::make_tuple();
};

template <>
struct SettingsFields<AlignSettings> {
    using S = AlignSettings;
    static constexpr auto recorded = std::make_tuple(RecordedField<S, bool>{"align", &S::alinear});
    static constexpr auto unrecorded = std::make_tuple();
};

template <>
struct SettingsFields<MapSettings> {
    using S = MapSettings;
    static constexpr auto recorded =
        std::make_tuple(RecordedField<S, int>{"threshold", &S::umbral},
                        RecordedField<S, int>{"anti_ghost", &S::antiGhost},
                        RecordedField<S, int>{"progressive", &S::progressive},
                        RecordedField<S, bool>{"deghost", &S::deghost},
                        RecordedField<S, int>{"deghost_ref", &S::deghostRef});
    // The development's white balance and headroom.
    static constexpr auto unrecorded =
        std::make_tuple(UnrecordedField<S, bool>{&S::balanceCamara},
                        UnrecordedField<S, std::array<QString, 3>>{&S::txtWB},
                        UnrecordedField<S, bool>{&S::headroom});
};

template <>
struct SettingsFields<BlendSettings> {
    using S = BlendSettings;
    static constexpr auto recorded = std::make_tuple(
        RecordedField<S, BlendMerge>{"merge", &S::merge},
        RecordedField<S, bool>{"bw", &S::blancoNegro}, RecordedField<S, int>{"bw_red", &S::pesoRojo},
        RecordedField<S, int>{"bw_blue", &S::pesoAzul}, RecordedField<S, int>{"gamma", &S::gamma},
        RecordedField<S, bool>{"ettr", &S::ettr},
        RecordedField<S, int>{"brackets", &S::numBracketing},
        RecordedField<S, int>{"step", &S::evBracketing},
        RecordedField<S, OutputFormat>{"format", &S::format});
    // The profile's name and the map: SetSettings::develop and ::mapFile.
    static constexpr auto unrecorded = std::make_tuple(
        UnrecordedField<S, QString>{&S::perfil}, UnrecordedField<S, QString>{&S::rutaMapa});
};

template <>
struct SettingsFields<SetSettings> {
    using S = SetSettings;
    static constexpr auto recorded = std::make_tuple(
        RecordedField<S, DevelopSettings>{nullptr, &S::develop},
        RecordedField<S, bool>{"hl", &S::hlRecovery},
        RecordedField<S, DecoderSetting>{"decoder", &S::decoder},
        RecordedField<S, bool>{"no_develop", &S::noDevelop},
        RecordedField<S, bool>{"average", &S::metodoMedia},
        RecordedField<S, AlignSettings>{nullptr, &S::align},
        RecordedField<S, MapSettings>{nullptr, &S::map}, RecordedField<S, QString>{"map", &S::mapFile},
        RecordedField<S, BlendSettings>{nullptr, &S::blend},
        RecordedField<S, bool>{"no_blend", &S::noBlend},
        RecordedField<S, bool>{"contact_sheet", &S::contactSheet},
        RecordedField<S, bool>{"stable_names", &S::stableNames});
    // How blend.gamma came about; the gamma itself is recorded.
    static constexpr auto unrecorded =
        std::make_tuple(UnrecordedField<S, bool>{&S::gammaChosen});
};

template <class T>
concept NestedSettings = requires { SettingsFields<T>::recorded; };

// Calls visit(key, value) for every recorded field of `owner`, nested structs
// flattened, in the table's order. `Owner` may be const.
template <class Owner, class Visit>
void forEachRecordedField(Owner& owner, Visit&& visit) {
    using Plain = std::remove_const_t<Owner>;
    std::apply(
        [&](const auto&... field) {
            auto one = [&](const auto& f) {
                auto& value = owner.*(f.member);
                if constexpr (NestedSettings<std::remove_cvref_t<decltype(value)>>)
                    forEachRecordedField(value, visit);
                else
                    visit(f.key, value);
            };
            (one(field), ...);
        },
        SettingsFields<Plain>::recorded);
}
