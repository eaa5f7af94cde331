#pragma once

// Helpers of the shoot library tests: a fixed local time zone, local dates, temporary folders, files, xmllint and
// fixture movies made with the ffmpeg tool.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/date.h"
#include "temp_dir.h"
#include "test_files.h"

namespace morvane::test {

/// Central European time with its summer time rule, written out so that no time zone database is needed.
inline void useTestTimeZone() {
    static const bool done = [] {
        ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        ::tzset();
        return true;
    }();
    (void)done;
}

// Set before any test runs, so that nothing computes local times in another zone first.
inline const bool testTimeZoneSet = (useTestTimeZone(), true);

/// The instant of a local wall-clock time in the test time zone.
inline Date localDate(int year, int month, int day, int hour, int minute, int second, double fraction = 0) {
    useTestTimeZone();
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return Date::fromUnix(static_cast<double>(std::mktime(&parts)) + fraction);
}

inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::filesystem::path testDataFolder() {
    return SHOOT_TEST_DATA;
}

/// Runs xmllint on the file: well-formedness always, validity against the FCPXML 1.10 document type for FCPXML.
/// Returns xmllint's complaints, empty when the file passes.
inline std::string xmllintProblems(const std::filesystem::path& file, bool fcpxml) {
    TempDir scratch;
    const auto report = scratch / "report.txt";
    std::string command = "xmllint --noout ";
    if (fcpxml) command += "--dtdvalid " + shellQuote((testDataFolder() / "FCPXMLv1_10.dtd").string()) + " ";
    command += shellQuote(file.string()) + " > " + shellQuote(report.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    if (status == 0) return {};
    const std::string text = readFile(report);
    return text.empty() ? "xmllint exited with " + std::to_string(status) : text;
}

inline std::string xmllintTextProblems(const std::string& document, bool fcpxml) {
    TempDir scratch;
    const auto file = scratch / (fcpxml ? "document.fcpxml" : "document.xml");
    writeFile(file, document);
    return xmllintProblems(file, fcpxml);
}

/// Makes a short movie with the ffmpeg tool. `arguments` go between the inputs and the output.
inline void makeMovie(const std::filesystem::path& out, const std::string& inputs, const std::string& arguments) {
    const std::string command =
        "ffmpeg -nostdin -v error -y " + inputs + " " + arguments + " " + shellQuote(out.string());
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

/// A 1-second 160×120 picture at the rate, with a timecode track starting at `timecode` when it is not empty, and a
/// sound track when asked.
inline void makeTestMovie(const std::filesystem::path& out, const std::string& rate, const std::string& timecode,
                          bool withSound = false) {
    std::string inputs = "-f lavfi -i testsrc=size=160x120:rate=" + rate;
    if (withSound) inputs += " -f lavfi -i sine=d=1";
    std::string arguments = "-t 1 -c:v mpeg4";
    if (withSound) arguments += " -c:a aac -shortest";
    if (!timecode.empty()) arguments += " -timecode " + shellQuote(timecode);
    makeMovie(out, inputs, arguments);
}

}  // namespace morvane::test
