#include "usb_mux_client.h"

#include <usbmuxd.h>

#include <mutex>

namespace morvane::usb_mux {

namespace {
// The client library keeps its request counter and protocol choice in globals.
std::mutex& libraryMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace

std::optional<std::vector<Device>> attachedDevices() {
    std::lock_guard lock(libraryMutex());
    usbmuxd_device_info_t* list = nullptr;
    const int count = usbmuxd_get_device_list(&list);
    if (count < 0 || !list) {
        if (list) usbmuxd_device_list_free(&list);
        return std::nullopt;
    }
    std::vector<Device> devices;
    for (int i = 0; i < count && list[i].handle != 0; ++i) {
        // Devices reached over the network are not on a cable.
        if (list[i].conn_type != CONNECTION_TYPE_USB) continue;
        const char* udid = list[i].udid;
        std::size_t length = 0;
        while (length < sizeof(list[i].udid) && udid[length] != '\0') ++length;
        devices.push_back(Device{list[i].handle, std::string(udid, length)});
    }
    usbmuxd_device_list_free(&list);
    return devices;
}

int connect(std::uint32_t handle, std::uint16_t port) {
    std::lock_guard lock(libraryMutex());
    return usbmuxd_connect(handle, port);
}

}  // namespace morvane::usb_mux
