// The one table from symbol names to glyphs of the Material icon font. Keep it sorted by name, one symbol a
// line; the code points are those of the font's codepoints list (MaterialIcons-Regular).

#include "symbol_table.h"

namespace morvane::detail {

const SymbolEntry symbolTable[] = {
    {"antenna.radiowaves.left.and.right", 0xe1e2},  // wifi_tethering
    {"arrow.counterclockwise", 0xe5d5},             // refresh
    {"arrow.down.circle", 0xf181},                  // arrow_circle_down
    {"arrow.down.right.and.arrow.up.left", 0xf1cf}, // close_fullscreen
    {"arrow.left.and.right", 0xe8d4},               // swap_horiz
    {"arrow.left.to.line", 0xe5dc},                 // first_page
    {"arrow.right.to.line", 0xe5dd},                // last_page
    {"arrow.triangle.2.circlepath", 0xe863},        // autorenew
    {"arrow.triangle.2.circlepath.camera", 0xea37}, // flip_camera_android
    {"arrow.up.circle", 0xf182},                    // arrow_circle_up
    {"arrow.up.left.and.arrow.down.right", 0xf1ce}, // open_in_full
    {"arrow.uturn.backward", 0xe166},               // undo
    {"backward.end.fill", 0xe045},                  // skip_previous
    {"battery.0", 0xebdc},                          // battery_0_bar
    {"battery.100", 0xe1a4},                        // battery_full
    {"battery.100.bolt", 0xe1a3},                   // battery_charging_full
    {"battery.25", 0xebe0},                         // battery_2_bar
    {"battery.50", 0xebe2},                         // battery_4_bar
    {"battery.75", 0xebd4},                         // battery_5_bar
    {"bubble.left", 0xe0cb},                        // chat_bubble_outline
    {"bubble.left.fill", 0xe0ca},                   // chat_bubble
    {"camera", 0xe412},                             // photo_camera
    {"camera.macro", 0xe545},                       // local_florist
    {"checkmark", 0xe5ca},                          // check
    {"checkmark.circle.fill", 0xe86c},              // check_circle
    {"checkmark.seal.fill", 0xef76},                // verified
    {"chevron.down", 0xe5cf},                       // expand_more
    {"chevron.left", 0xe5cb},                       // chevron_left
    {"chevron.right", 0xe5cc},                      // chevron_right
    {"chevron.up", 0xe5ce},                         // expand_less
    {"chevron.up.chevron.down", 0xe5d7},            // unfold_more
    {"circle", 0xe836},                             // radio_button_unchecked
    {"dot.radiowaves.left.and.right", 0xe51e},      // sensors
    {"ellipsis.circle", 0xe5d3},                    // more_horiz
    {"envelope", 0xe158},                           // mail
    {"exclamationmark.triangle", 0xf083},           // warning_amber
    {"eye", 0xe8f4},                                // visibility
    {"eye.slash", 0xe8f5},                          // visibility_off
    {"film.stack", 0xe04a},                         // video_library
    {"flag", 0xe153},                               // flag
    {"folder", 0xe2c7},                             // folder
    {"forward.end.fill", 0xe044},                   // skip_next
    {"gearshape", 0xe8b8},                          // settings
    {"internaldrive", 0xe1db},                      // storage
    {"ladybug", 0xe868},                            // bug_report
    {"laptopcomputer", 0xe31e},                     // laptop
    {"line.3.horizontal", 0xe5d2},                  // menu
    {"link", 0xe157},                               // link
    {"lock.fill", 0xe897},                          // lock
    {"mic.fill", 0xe029},                           // mic
    {"moon", 0xe3a8},                               // brightness_3
    {"moon.fill", 0xe51c},                          // dark_mode
    {"mountain.2", 0xe564},                         // terrain
    {"pause.fill", 0xe034},                         // pause
    {"pencil", 0xe3c9},                             // edit
    {"photo.on.rectangle", 0xe413},                 // photo_library
    {"play.fill", 0xe037},                          // play_arrow
    {"plus.magnifyingglass", 0xe8ff},               // zoom_in
    {"questionmark.circle", 0xe8fd},                // help_outline
    {"record.circle", 0xe837},                      // radio_button_checked
    {"rectangle.3.group", 0xe8f1},                  // view_quilt
    {"scissors", 0xe14e},                           // content_cut
    {"scope", 0xe3b4},                              // center_focus_strong
    {"slider.horizontal.3", 0xe429},                // tune
    {"speaker.fill", 0xe04e},                       // volume_mute
    {"speaker.wave.2", 0xe04d},                     // volume_down
    {"speaker.wave.3.fill", 0xe050},                // volume_up
    {"square.and.arrow.down", 0xf090},              // download
    {"square.and.arrow.down.on.square", 0xe161},    // save
    {"square.and.arrow.up", 0xe6b8},                // ios_share
    {"square.grid.2x2", 0xe9b0},                    // grid_view
    {"square.grid.2x2.fill", 0xe8f0},               // view_module
    {"thermometer.high", 0xe1ff},                   // device_thermostat
    {"timer", 0xe425},                              // timer
    {"trash", 0xe872},                              // delete
    {"video", 0xe04b},                              // videocam
    {"video.badge.plus", 0xe070},                   // video_call
    {"video.fill", 0xe04b},                         // videocam
    {"waveform", 0xe1b8},                           // graphic_eq
    {"xmark", 0xe5cd},                              // close
    {"xmark.circle", 0xe888},                       // highlight_off
};

const std::size_t symbolTableSize = sizeof(symbolTable) / sizeof(symbolTable[0]);

}  // namespace morvane::detail
