# Common flags and the helper every folder uses to declare its library.
#
# A library's public headers live in <folder>/include/<name>/ and its sources in <folder>/src/.
# Only targets that link a library see its headers, so a dependency that the layering does not
# allow fails the build.

add_library(morvane_flags INTERFACE)
target_compile_options(morvane_flags INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
# GCC 12 raises -Wrestrict false alarms from inlined std::string code at -O2; only that one is silenced.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(morvane_flags INTERFACE -Wno-restrict)
endif()
if(MORVANE_WERROR)
  target_compile_options(morvane_flags INTERFACE -Werror)
endif()
if(MORVANE_SANITIZE)
  target_compile_options(morvane_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=undefined
                                                 # GCC's flow analysis gives false alarms on instrumented code.
                                                 -Wno-maybe-uninitialized)
  target_link_options(morvane_flags INTERFACE -fsanitize=address,undefined)
endif()
if(MORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "MORVANE_FUZZ needs clang (libFuzzer): configure with CMAKE_CXX_COMPILER=clang++-14")
  endif()
  # Libraries get libFuzzer's coverage hooks; only the fuzz programs link its main (fuzz/CMakeLists.txt).
  target_compile_options(morvane_flags INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                 -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(morvane_flags INTERFACE -fsanitize=address,undefined)
endif()

# morvane_library(<target> [QT] DEPS <targets...>)
# Sources: every .cpp under src/ of the current folder. Headers: include/ of the current folder.
function(morvane_library target)
  cmake_parse_arguments(ARG "QT" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp")
  file(GLOB_RECURSE _headers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/include/*.h")
  if(_sources)
    add_library(${target} STATIC ${_sources} ${_headers})
    target_include_directories(${target} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/include"
                                         PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/src")
    target_link_libraries(${target} PUBLIC morvane_flags ${ARG_DEPS})
    if(ARG_QT)
      set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
    endif()
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE "${CMAKE_CURRENT_SOURCE_DIR}/include")
    target_link_libraries(${target} INTERFACE morvane_flags ${ARG_DEPS})
  endif()
endfunction()

# morvane_test(<name> [QT_MAIN] SOURCES <files...> DEPS <targets...> [LABELS ...] [TIMEOUT s] [SHARDS n])
# QT_MAIN: the test runs inside a QApplication (offscreen), so main-thread Qt code and its event loop work.
# SHARDS: the program's tests are dealt out in turn to n ctest entries (<name>, <name>_2 ... <name>_n), each with
# TIMEOUT, so that ctest --parallel runs a long program on several cores and no test is left out.
function(morvane_test name)
  cmake_parse_arguments(ARG "QT_MAIN" "TIMEOUT;SHARDS" "SOURCES;DEPS;LABELS" ${ARGN})
  if(ARG_QT_MAIN)
    add_executable(${name} ${ARG_SOURCES} "${CMAKE_SOURCE_DIR}/tests/support/qt_test_main.cpp")
    target_link_libraries(${name} PRIVATE morvane_flags GTest::gtest GTest::gmock Qt6::Widgets ${ARG_DEPS})
  else()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE morvane_flags GTest::gtest GTest::gmock GTest::gtest_main ${ARG_DEPS})
  endif()
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests/support")
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(NOT ARG_SHARDS)
    set(ARG_SHARDS 1)
  endif()
  foreach(shard RANGE 1 ${ARG_SHARDS})
    set(entry ${name})
    set(environment "QT_QPA_PLATFORM=offscreen;MORVANE_TEST_LOOPBACK_ONLY=1")
    if(ARG_SHARDS GREATER 1)
      if(shard GREATER 1)
        set(entry ${name}_${shard})
      endif()
      math(EXPR index "${shard} - 1")
      list(APPEND environment "GTEST_TOTAL_SHARDS=${ARG_SHARDS}" "GTEST_SHARD_INDEX=${index}")
    endif()
    add_test(NAME ${entry} COMMAND ${name})
    set_tests_properties(${entry} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${environment}")
    if(ARG_LABELS)
      set_tests_properties(${entry} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
  endforeach()
endfunction()

# morvane_bench(<name> SOURCES <files...> DEPS <targets...>): a benchmark program, built, never run by ctest.
function(morvane_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE morvane_flags ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()
