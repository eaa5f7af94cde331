#include "platform/v4l2_controls.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <tuple>

#include <linux/videodev2.h>
#include <sys/ioctl.h>

#include "platform/log.h"

namespace morvane {

namespace {

// Gain is read as ISO over five stops from ISO 100: what the sensor's range means is the driver's secret.
constexpr double kBaseISO = 100;
constexpr double kGainStops = 5;
// Zoom controls without a starting factor are taken to reach 4×.
constexpr double kAssumedMaxZoom = 4;

const V4L2Control* find(const V4L2ControlTable& table, std::uint32_t id) {
    auto it = table.find(id);
    return it == table.end() || it->second.maximum < it->second.minimum ? nullptr : &it->second;
}

std::int32_t snapped(const V4L2Control& c, double value) {
    if (!std::isfinite(value)) return c.defaultValue;
    const double clamped = std::clamp(value, static_cast<double>(c.minimum), static_cast<double>(c.maximum));
    const double step = std::max(1, c.step);
    const double steps = std::round((clamped - c.minimum) / step);
    return static_cast<std::int32_t>(std::min<double>(c.maximum, c.minimum + steps * step));
}

double maxZoomOf(const V4L2Control& zoom) {
    if (zoom.maximum <= zoom.minimum) return 1;
    return zoom.minimum > 0 ? static_cast<double>(zoom.maximum) / zoom.minimum : kAssumedMaxZoom;
}

// The settings a control value stands for, the inverse of what the plan sets.
float isoOfGain(const V4L2Control* gain, std::int32_t value) {
    if (!gain || gain->maximum <= gain->minimum) return static_cast<float>(kBaseISO);
    return static_cast<float>(kBaseISO *
                              std::exp2(kGainStops * (value - gain->minimum) / (gain->maximum - gain->minimum)));
}

float lensPositionOf(const V4L2Control& focus, std::int32_t value) {
    return focus.maximum > focus.minimum
               ? static_cast<float>(focus.maximum - value) / static_cast<float>(focus.maximum - focus.minimum)
               : 0.0f;
}

// The automatic switch a control acts under only once it is off (manual exposure for its time and gain); none for
// a control that needs none.
std::optional<std::uint32_t> switchOf(std::uint32_t id) {
    switch (id) {
        case V4L2_CID_EXPOSURE_ABSOLUTE:
        case V4L2_CID_GAIN:
            return V4L2_CID_EXPOSURE_AUTO;
        case V4L2_CID_WHITE_BALANCE_TEMPERATURE:
            return V4L2_CID_AUTO_WHITE_BALANCE;
        case V4L2_CID_FOCUS_ABSOLUTE:
            return V4L2_CID_FOCUS_AUTO;
        default:
            return std::nullopt;
    }
}

double zoomFactorOf(const V4L2Control& zoom, std::int32_t value) {
    const double maxZoom = maxZoomOf(zoom);
    return maxZoom > 1 ? 1 + (maxZoom - 1) * (value - zoom.minimum) / (zoom.maximum - zoom.minimum) : 1;
}

}  // namespace

const std::vector<std::uint32_t>& pictureControlIDs() {
    static const std::vector<std::uint32_t> ids{V4L2_CID_EXPOSURE_AUTO,
                                                V4L2_CID_EXPOSURE_ABSOLUTE,
                                                V4L2_CID_GAIN,
                                                V4L2_CID_AUTO_WHITE_BALANCE,
                                                V4L2_CID_WHITE_BALANCE_TEMPERATURE,
                                                V4L2_CID_FOCUS_AUTO,
                                                V4L2_CID_FOCUS_ABSOLUTE,
                                                V4L2_CID_ZOOM_ABSOLUTE};
    return ids;
}

SourceCapabilities capabilitiesOf(const V4L2ControlTable& t) {
    SourceCapabilities c;
    const auto* exposure = find(t, V4L2_CID_EXPOSURE_ABSOLUTE);
    c.manualExposure = find(t, V4L2_CID_EXPOSURE_AUTO) && exposure;
    if (c.manualExposure) {
        c.minShutter = std::max(1, exposure->minimum) / 10000.0;  // 100 µs units
        c.maxShutter = exposure->maximum / 10000.0;
        c.minISO = static_cast<float>(kBaseISO);
        c.maxISO = static_cast<float>(find(t, V4L2_CID_GAIN) ? kBaseISO * std::exp2(kGainStops) : kBaseISO);
    }
    c.manualWhiteBalance = find(t, V4L2_CID_AUTO_WHITE_BALANCE) && find(t, V4L2_CID_WHITE_BALANCE_TEMPERATURE);
    c.manualFocus = find(t, V4L2_CID_FOCUS_ABSOLUTE) != nullptr;
    if (const auto* zoom = find(t, V4L2_CID_ZOOM_ABSOLUTE)) c.maxZoom = maxZoomOf(*zoom);
    return c;
}

V4L2ControlPlan planControls(const V4L2ControlTable& t, const PictureSettings& wanted) {
    V4L2ControlPlan plan;
    PictureSettings& applied = plan.applied;
    auto set = [&](std::uint32_t id, std::int32_t value) { plan.values.emplace_back(id, value); };
    const SourceCapabilities caps = capabilitiesOf(t);

    // Exposure. UVC cameras offer manual (1) and aperture priority (3) and refuse full automatic (0).
    if (const auto* mode = find(t, V4L2_CID_EXPOSURE_AUTO)) {
        if (wanted.iso && wanted.shutter && caps.manualExposure) {
            set(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL);
            const auto& exposure = *find(t, V4L2_CID_EXPOSURE_ABSOLUTE);
            const std::int32_t units = snapped(exposure, *wanted.shutter * 10000.0);
            set(V4L2_CID_EXPOSURE_ABSOLUTE, units);
            applied.shutter = units / 10000.0;
            applied.iso = static_cast<float>(kBaseISO);
            if (const auto* gain = find(t, V4L2_CID_GAIN); gain && gain->maximum > gain->minimum) {
                const double stops = std::clamp(std::log2(std::max(1.0f, *wanted.iso) / kBaseISO), 0.0, kGainStops);
                const std::int32_t value =
                    snapped(*gain, gain->minimum + stops / kGainStops * (gain->maximum - gain->minimum));
                set(V4L2_CID_GAIN, value);
                applied.iso = isoOfGain(gain, value);
            }
        } else {
            set(V4L2_CID_EXPOSURE_AUTO, mode->maximum >= V4L2_EXPOSURE_APERTURE_PRIORITY
                                            ? V4L2_EXPOSURE_APERTURE_PRIORITY
                                            : V4L2_EXPOSURE_AUTO);
            // Some cameras go on applying a set gain in aperture priority: an earlier ISO must not stay.
            if (const auto* gain = find(t, V4L2_CID_GAIN)) set(V4L2_CID_GAIN, gain->defaultValue);
        }
    }
    // No exposure bias control is common enough to rely on: bias stays 0.

    if (caps.manualWhiteBalance) {
        if (wanted.kelvin) {
            set(V4L2_CID_AUTO_WHITE_BALANCE, 0);
            const std::int32_t kelvin = snapped(*find(t, V4L2_CID_WHITE_BALANCE_TEMPERATURE), *wanted.kelvin);
            set(V4L2_CID_WHITE_BALANCE_TEMPERATURE, kelvin);
            applied.kelvin = static_cast<float>(kelvin);
            applied.tint = 0;  // no tint control
        } else {
            set(V4L2_CID_AUTO_WHITE_BALANCE, 1);
        }
    } else if (find(t, V4L2_CID_AUTO_WHITE_BALANCE)) {
        set(V4L2_CID_AUTO_WHITE_BALANCE, 1);
    }

    if (const auto* focus = find(t, V4L2_CID_FOCUS_ABSOLUTE)) {
        const bool autoFocus = find(t, V4L2_CID_FOCUS_AUTO) != nullptr;
        if (wanted.focus) {
            if (autoFocus) set(V4L2_CID_FOCUS_AUTO, 0);
            // Larger values focus nearer; lens position 0 is near.
            const double position = std::clamp(*wanted.focus, 0.0f, 1.0f);
            const std::int32_t value = snapped(*focus, focus->maximum - position * (focus->maximum - focus->minimum));
            set(V4L2_CID_FOCUS_ABSOLUTE, value);
            applied.focus = lensPositionOf(*focus, value);
        } else if (autoFocus) {
            set(V4L2_CID_FOCUS_AUTO, 1);
        }
    }

    if (const auto* zoom = find(t, V4L2_CID_ZOOM_ABSOLUTE)) {
        const double maxZoom = maxZoomOf(*zoom);
        const double factor = std::isfinite(wanted.zoom) ? std::clamp(wanted.zoom, 1.0, maxZoom) : 1.0;
        const double fraction = maxZoom > 1 ? (factor - 1) / (maxZoom - 1) : 0;
        const std::int32_t value = snapped(*zoom, zoom->minimum + fraction * (zoom->maximum - zoom->minimum));
        set(V4L2_CID_ZOOM_ABSOLUTE, value);
        applied.zoom = zoomFactorOf(*zoom, value);
    }
    return plan;
}

PictureSettings applyControls(const V4L2ControlTable& t, const PictureSettings& wanted, V4L2ControlDevice& device) {
    std::vector<std::uint32_t> refused;
    for (const auto& [id, value] : planControls(t, wanted).values) {
        // A value set under a switch the device did not take would act where the settings say it does not.
        if (const auto needed = switchOf(id);
            needed && std::find(refused.begin(), refused.end(), *needed) != refused.end()) {
            continue;
        }
        if (!device.set(id, value)) {
            // Nothing to retry: the settings read back below show the control as the device kept it.
            log::info("Capture", "the device refused control " + std::to_string(id) + " = " + std::to_string(value));
            refused.push_back(id);
        }
    }
    auto held = [&](std::uint32_t id) -> std::optional<std::int32_t> {
        return find(t, id) ? device.get(id) : std::nullopt;
    };
    PictureSettings applied;  // automatic unless the device holds a manual value
    if (held(V4L2_CID_EXPOSURE_AUTO) == V4L2_EXPOSURE_MANUAL) {
        if (const auto units = held(V4L2_CID_EXPOSURE_ABSOLUTE)) {
            applied.shutter = *units / 10000.0;
            const auto gain = held(V4L2_CID_GAIN);
            applied.iso = isoOfGain(gain ? find(t, V4L2_CID_GAIN) : nullptr, gain.value_or(0));
        }
    }
    if (find(t, V4L2_CID_WHITE_BALANCE_TEMPERATURE) && held(V4L2_CID_AUTO_WHITE_BALANCE) == 0) {
        if (const auto kelvin = held(V4L2_CID_WHITE_BALANCE_TEMPERATURE)) applied.kelvin = static_cast<float>(*kelvin);
    }
    if (const auto* focus = find(t, V4L2_CID_FOCUS_ABSOLUTE)) {
        // Without an automatic switch the lens is where it was put, manual only when asked for.
        const bool manual = find(t, V4L2_CID_FOCUS_AUTO) ? held(V4L2_CID_FOCUS_AUTO) == 0 : wanted.focus.has_value();
        if (const auto value = held(V4L2_CID_FOCUS_ABSOLUTE); manual && value) {
            applied.focus = lensPositionOf(*focus, *value);
        }
    }
    if (const auto* zoom = find(t, V4L2_CID_ZOOM_ABSOLUTE)) {
        if (const auto value = held(V4L2_CID_ZOOM_ABSOLUTE)) applied.zoom = zoomFactorOf(*zoom, *value);
    }
    return applied;
}

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int rc;
    do {
        rc = ::ioctl(fd, request, arg);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

}  // namespace

std::vector<SourceMode> readV4L2Modes(int fd) {
    static const std::pair<int, int> kSizes[] = {{640, 360}, {640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}};
    static const std::pair<int, int> kRates[] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                                 {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
    std::vector<SourceMode> modes;
    auto addRates = [&](std::uint32_t format, int width, int height) {
        v4l2_frmivalenum interval{};
        interval.pixel_format = format;
        interval.width = static_cast<std::uint32_t>(width);
        interval.height = static_cast<std::uint32_t>(height);
        for (interval.index = 0; interval.index < 64 && xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0;
             ++interval.index) {
            if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
                // An interval of n/d seconds is a rate of d/n.
                const auto& f = interval.discrete;
                if (f.numerator > 0 && f.denominator > 0 && f.denominator <= 1'000'000)
                    modes.push_back({width, height, static_cast<int>(f.denominator), static_cast<int>(f.numerator)});
                continue;
            }
            const auto& range = interval.stepwise;
            if (range.min.denominator == 0 || range.max.denominator == 0) break;
            const double fastest = static_cast<double>(range.min.denominator) / std::max(1u, range.min.numerator);
            const double slowest = static_cast<double>(range.max.denominator) / std::max(1u, range.max.numerator);
            for (const auto& [num, den] : kRates) {
                const double fps = static_cast<double>(num) / den;
                if (fps >= slowest - 1e-6 && fps <= fastest + 1e-6) modes.push_back({width, height, num, den});
            }
            break;
        }
    };
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; format.index < 32 && xioctl(fd, VIDIOC_ENUM_FMT, &format) == 0; ++format.index) {
        v4l2_frmsizeenum size{};
        size.pixel_format = format.pixelformat;
        for (size.index = 0; size.index < 64 && xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                addRates(format.pixelformat, static_cast<int>(size.discrete.width),
                         static_cast<int>(size.discrete.height));
                continue;
            }
            const auto& range = size.stepwise;
            for (const auto& [w, h] : kSizes) {
                if (w >= static_cast<int>(range.min_width) && w <= static_cast<int>(range.max_width) &&
                    h >= static_cast<int>(range.min_height) && h <= static_cast<int>(range.max_height))
                    addRates(format.pixelformat, w, h);
            }
            break;
        }
    }
    std::sort(modes.begin(), modes.end(), [](const SourceMode& a, const SourceMode& b) {
        return std::tuple(a.width * a.height, a.width, a.fps()) < std::tuple(b.width * b.height, b.width, b.fps());
    });
    modes.erase(std::unique(modes.begin(), modes.end(),
                            [](const SourceMode& a, const SourceMode& b) {
                                return a.width == b.width && a.height == b.height && std::abs(a.fps() - b.fps()) < 1e-6;
                            }),
                modes.end());
    return modes;
}

bool V4L2FileControls::set(std::uint32_t id, std::int32_t value) {
    v4l2_control control{id, value};
    return xioctl(fd_, VIDIOC_S_CTRL, &control) == 0;
}

std::optional<std::int32_t> V4L2FileControls::get(std::uint32_t id) {
    v4l2_control control{id, 0};
    if (xioctl(fd_, VIDIOC_G_CTRL, &control) != 0) return std::nullopt;
    return control.value;
}

V4L2ControlTable readV4L2Controls(int fd) {
    V4L2ControlTable table;
    for (std::uint32_t id : pictureControlIDs()) {
        v4l2_queryctrl query{};
        query.id = id;
        if (xioctl(fd, VIDIOC_QUERYCTRL, &query) != 0 || (query.flags & V4L2_CTRL_FLAG_DISABLED)) continue;
        table[id] = V4L2Control{query.minimum, query.maximum, query.step, query.default_value};
    }
    return table;
}

}  // namespace morvane
