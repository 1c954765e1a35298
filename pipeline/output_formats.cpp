// The table of output formats.
#include "pipeline/output_formats.h"

const std::array<OutputFormatInfo, 5>& outputFormats() {
    static constexpr std::array<OutputFormatInfo, 5> formats{{
        {OutputFormat::Tiff16, "tiff", "TIFF 16-bit", ".tif"},
        {OutputFormat::TiffFloat, "tiff-float", "TIFF 32-bit float", ".tif"},
        {OutputFormat::ExrHalf, "exr", "OpenEXR half", ".exr"},
        {OutputFormat::ExrFloat, "exr-float", "OpenEXR float", ".exr"},
        {OutputFormat::AvifPq, "avif-pq", "AVIF HDR (PQ)", ".avif"},
    }};
    return formats;
}

const OutputFormatInfo& formatInfo(OutputFormat format) {
    for (const OutputFormatInfo& info : outputFormats())
        if (info.format == format) return info;
    return outputFormats().front();
}

std::optional<OutputFormat> formatFromKey(const QString& key) {
    for (const OutputFormatInfo& info : outputFormats())
        if (key.compare(QLatin1String(info.key), Qt::CaseInsensitive) == 0) return info.format;
    return std::nullopt;
}

QStringList formatKeys() {
    QStringList keys;
    for (const OutputFormatInfo& info : outputFormats()) keys << QLatin1String(info.key);
    return keys;
}
