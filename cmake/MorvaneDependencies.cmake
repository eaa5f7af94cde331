# Every external library the tree uses, found once here.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Multimedia DBus Network Test)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
  libavcodec libavformat libavutil libswscale libswresample libavfilter libavdevice)
pkg_check_modules(USBMUX REQUIRED IMPORTED_TARGET libusbmuxd-2.0 libplist-2.0)
pkg_check_modules(ESPEAK REQUIRED IMPORTED_TARGET espeak-ng)
# The microphone is read through the sound server's own client library.
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)

# Debian's pocketsphinx.pc names include folders that do not exist; keep only the real ones.
pkg_check_modules(POCKETSPHINX_PC REQUIRED pocketsphinx)
pkg_get_variable(POCKETSPHINX_MODELDIR pocketsphinx modeldir)
set(_ps_includes "")
foreach(dir IN LISTS POCKETSPHINX_PC_INCLUDE_DIRS)
  if(EXISTS "${dir}")
    list(APPEND _ps_includes "${dir}")
  endif()
endforeach()
add_library(morvane_pocketsphinx INTERFACE)
target_include_directories(morvane_pocketsphinx SYSTEM INTERFACE ${_ps_includes})
target_link_libraries(morvane_pocketsphinx INTERFACE ${POCKETSPHINX_PC_LINK_LIBRARIES})
target_compile_definitions(morvane_pocketsphinx INTERFACE MORVANE_POCKETSPHINX_MODELDIR="${POCKETSPHINX_MODELDIR}")

# Asio is header-only (Debian's libasio-dev); used without Boost.
add_library(morvane_asio INTERFACE)
target_compile_definitions(morvane_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(morvane_asio INTERFACE Threads::Threads)

find_package(GTest REQUIRED)
