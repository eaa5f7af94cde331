#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/capture_source.h"

namespace morvane {

/// One camera control as the kernel describes it (`VIDIOC_QUERYCTRL`).
struct V4L2Control {
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t step = 1;
    std::int32_t defaultValue = 0;
};

/// A device's controls by id (`V4L2_CID_…`).
using V4L2ControlTable = std::map<std::uint32_t, V4L2Control>;

/// The ids of the controls the picture settings use.
const std::vector<std::uint32_t>& pictureControlIDs();

/// What a device with these controls can set.
SourceCapabilities capabilitiesOf(const V4L2ControlTable& controls);

/// The control values that apply the settings, in the order to set them (the automatic switches before the
/// values they unlock), and the settings as applied: what the device lacks comes back automatic.
struct V4L2ControlPlan {
    std::vector<std::pair<std::uint32_t, std::int32_t>> values;
    PictureSettings applied;
};
V4L2ControlPlan planControls(const V4L2ControlTable& controls, const PictureSettings& wanted);

/// A device's controls as they are set and read (`VIDIOC_S_CTRL`, `VIDIOC_G_CTRL`).
class V4L2ControlDevice {
public:
    virtual ~V4L2ControlDevice() = default;
    /// False when the device refuses the value.
    virtual bool set(std::uint32_t id, std::int32_t value) = 0;
    /// The value the device holds; none when it cannot be read.
    virtual std::optional<std::int32_t> get(std::uint32_t id) = 0;
};

/// Sets the planned values and returns the settings as the device then holds them: a value it refuses leaves what
/// it had, so that setting shows as it is on the device (automatic where the switch to manual was refused). The
/// values that act only under a switch (exposure time and gain, temperature, lens position) are not set when the
/// device refused that switch.
PictureSettings applyControls(const V4L2ControlTable& controls, const PictureSettings& wanted,
                              V4L2ControlDevice& device);

/// The controls of an open device file.
class V4L2FileControls final : public V4L2ControlDevice {
public:
    explicit V4L2FileControls(int fd) : fd_(fd) {}
    bool set(std::uint32_t id, std::int32_t value) override;
    std::optional<std::int32_t> get(std::uint32_t id) override;

private:
    int fd_;
};

/// A device's modes (`VIDIOC_ENUM_FMT`, `VIDIOC_ENUM_FRAMESIZES`, `VIDIOC_ENUM_FRAMEINTERVALS`) on an open file;
/// stepwise ranges are given as the common sizes and rates inside them.
std::vector<SourceMode> readV4L2Modes(int fd);
/// The picture controls the open device has.
V4L2ControlTable readV4L2Controls(int fd);

}  // namespace morvane
