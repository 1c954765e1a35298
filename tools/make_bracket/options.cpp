// Command-line options of orrindale-make-bracket (see options.h). Numbers must
// be whole strings ("5x" or "" are refused), so typos never pass silently.
#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace make_bracket {
namespace {

template <typename Int>
bool parseInt(const std::string& text, Int& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc{} && ptr == end && !text.empty();
}

// Locale-independent ('.' is the decimal point whatever LC_NUMERIC says).
bool parseDouble(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc{} && ptr == end && !text.empty() && std::isfinite(out);
}

// "X,Y,W,H,DX,DY": six numbers, a box of some size.
bool parseMover(const std::string& text, Mover& m) {
    double* fields[6] = {&m.x, &m.y, &m.width, &m.height, &m.dx, &m.dy};
    std::size_t from = 0;
    for (int i = 0; i < 6; ++i) {
        const std::size_t comma = i < 5 ? text.find(',', from) : text.size();
        if (comma == std::string::npos || !parseDouble(text.substr(from, comma - from), *fields[i]))
            return false;
        from = comma + 1;
    }
    return from == text.size() + 1 && m.width > 0 && m.height > 0;
}

std::string validate(const Options& o) {
    if (o.count < Limits::kMinCount || o.count > Limits::kMaxCount)
        return "--count must be from " + std::to_string(Limits::kMinCount) + " to " +
               std::to_string(Limits::kMaxCount);
    if (!(o.step >= Limits::kMinStep && o.step <= Limits::kMaxStep))
        return "--step must be from 0.1 to 4 EV";
    if ((o.count - 1) * o.step > Limits::kMaxSpanEv + 1e-9)
        return "--count and --step span more than 20 EV; use fewer frames or a smaller step";
    for (const auto& [name, side] :
         {std::pair{"--width", o.width}, std::pair{"--height", o.height}}) {
        if (side < Limits::kMinSide || side > Limits::kMaxSide)
            return std::string(name) + " must be from " + std::to_string(Limits::kMinSide) +
                   " to " + std::to_string(Limits::kMaxSide) + " (got " + std::to_string(side) +
                   ")";
        if (side % 2 != 0)
            return std::string(name) +
                   " must be even: the RGGB mosaic repeats every 2 photosites (got " +
                   std::to_string(side) + ")";
    }
    if (static_cast<std::int64_t>(o.width) * o.height > Limits::kMaxPixels)
        return "--width x --height is over 100 megapixels";
    if (o.out.empty()) return "--out must not be empty";
    if (o.prefix.find('/') != std::string::npos)
        return "--prefix must not contain '/' (use --out for the folder)";
    if (!o.prefix.empty() && o.prefix[0] == '.')
        return "--prefix must not start with '.' (hidden files are skipped)";
    if (o.prefix.size() > 64) return "--prefix is longer than 64 characters";
    if (o.shake) {
        const double maxShift = Limits::kMaxShakeShare * std::min(o.width, o.height);
        if (!(o.shakeShift >= 0.0 && o.shakeShift <= maxShift))
            return "--shake: the shift must be from 0 to a quarter of the shorter side (" +
                   std::to_string(static_cast<int>(maxShift)) + " pixels here)";
        if (!(o.shakeDegrees >= 0.0 && o.shakeDegrees <= Limits::kMaxShakeDegrees))
            return "--shake: the turn must be from 0 to 10 degrees";
    }
    return {};
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        // Both "--width 600" and "--width=600".
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        auto flag = [&]() {
            if (value) error = name + " takes no value";
            return !value;
        };
        auto next = [&]() -> std::optional<std::string> {
            if (value) return value;
            // "--out --shuffle" is a forgotten value, not a folder named
            // "--shuffle"; such a name can still be given as "--out=--shuffle".
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
                error = name + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        auto number = [&](auto& out) {
            const auto text = next();
            if (!text) return false;
            if (!parseInt(*text, out)) {
                error = name + " needs a whole number (got \"" + *text + "\")";
                return false;
            }
            return true;
        };

        if (name == "--help" || name == "-h") {
            if (!flag()) return std::nullopt;
            o.help = true;
        } else if (name == "--shuffle") {
            if (!flag()) return std::nullopt;
            o.shuffle = true;
        } else if (name == "--no-noise") {
            if (!flag()) return std::nullopt;
            o.noise = false;
        } else if (name == "--count") {
            if (!number(o.count)) return std::nullopt;
        } else if (name == "--width") {
            if (!number(o.width)) return std::nullopt;
        } else if (name == "--height") {
            if (!number(o.height)) return std::nullopt;
        } else if (name == "--seed") {
            if (!number(o.seed)) return std::nullopt;
        } else if (name == "--step") {
            const auto text = next();
            if (!text) return std::nullopt;
            if (!parseDouble(*text, o.step)) {
                error = "--step needs a number of EV such as 2 or 1.5 (got \"" + *text + "\")";
                return std::nullopt;
            }
        } else if (name == "--out") {
            const auto text = next();
            if (!text) return std::nullopt;
            o.out = *text;
        } else if (name == "--prefix") {
            const auto text = next();
            if (!text) return std::nullopt;
            o.prefix = *text;
        } else if (name == "--shake") {
            const auto text = next();
            if (!text) return std::nullopt;
            const auto comma = text->find(',');
            if (comma == std::string::npos ||
                !parseDouble(text->substr(0, comma), o.shakeShift) ||
                !parseDouble(text->substr(comma + 1), o.shakeDegrees)) {
                error = "--shake needs MAXPX,MAXDEG such as 4,0.3 (got \"" + *text + "\")";
                return std::nullopt;
            }
            o.shake = true;
        } else if (name == "--mover") {
            const auto text = next();
            if (!text) return std::nullopt;
            if (!parseMover(*text, o.mover)) {
                error =
                    "--mover needs X,Y,W,H,DX,DY with W and H above 0, such as "
                    "200,100,60,60,40,0 (got \"" +
                    *text + "\")";
                return std::nullopt;
            }
            o.moving = true;
        } else if (name == "--texture") {
            if (!flag()) return std::nullopt;
            o.textured = true;
        } else if (name == "--warm") {
            if (!flag()) return std::nullopt;
            o.warm = true;
        } else if (name.rfind("-", 0) == 0) {
            error = "unknown option " + name;
            return std::nullopt;
        } else {
            error = "unexpected argument \"" + name + "\" (every setting is an option)";
            return std::nullopt;
        }
    }
    if (o.help) return o;  // --help wins over any other mistake in the line
    error = validate(o);
    if (!error.empty()) return std::nullopt;
    return o;
}

std::string usageText() {
    return "Usage: orrindale-make-bracket [options]\n"
           "Writes a bracket of synthetic RAW (DNG) files of one static scene, shot at\n"
           "exposure times a fixed EV step apart, darkest first. dcraw develops them.\n"
           "\n"
           "  --count N     number of frames (1-32, default 5)\n"
           "  --step EV     exposure step between frames, may be fractional (default 2)\n"
           "  --width W     frame width in pixels, even (default 6000)\n"
           "  --height H    frame height in pixels, even (default 4000)\n"
           "  --seed S      scene details and noise; same seed, same bytes (default 1)\n"
           "  --out DIR     output folder, created if missing (default .)\n"
           "  --prefix P    file names P0001.dng, P0002.dng, ... (default IMG_)\n"
           "  --shuffle     number the files in a seeded random order, not by exposure\n"
           "  --shake MAXPX,MAXDEG\n"
           "                handheld: every frame but the least exposed moves by a seeded\n"
           "                shift of up to MAXPX pixels and a turn of up to MAXDEG degrees;\n"
           "                the true moves go to shake.txt beside the frames\n"
           "  --texture     texture at several scales and in every direction, so that\n"
           "                frames can be aligned\n"
           "  --warm        a warm evening sky and lamp, whose red clips through the\n"
           "                white balance long before green\n"
           "  --mover X,Y,W,H,DX,DY\n"
           "                a textured subject of W x H pixels at (X, Y) in the least\n"
           "                exposed frame, moved by (DX, DY) pixels in each next frame\n"
           "  --no-noise    no shot or read noise: the exact twin of the same bracket\n"
           "  --help        this text\n"
           "\n"
           "Example: orrindale-make-bracket --count 5 --step 2 --out sample\n"
           "Handheld: orrindale-make-bracket --texture --shake 4,0.3 --out handheld\n"
           "Moving subject: orrindale-make-bracket --mover 2700,1500,300,300,120,0 --out moving\n";
}

}  // namespace make_bracket
