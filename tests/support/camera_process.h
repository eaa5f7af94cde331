#pragma once

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace morvane::test {

/// The camera program started by a test, with its output lines collected. Asked to quit when the test ends.
class CameraProcess {
public:
    void start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            while (process.canReadLine()) lines.push_back(process.readLine().trimmed().toStdString());
        });
        process.start(program, arguments);
    }
    ~CameraProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.write("quit\n");
            if (!process.waitForFinished(15000)) process.kill();
            process.waitForFinished(5000);
        }
    }
    std::optional<std::string> lineStartingWith(const std::string& prefix) const {
        for (const auto& line : lines)
            if (line.rfind(prefix, 0) == 0) return line;
        return std::nullopt;
    }
    void type(const std::string& line) { process.write((line + "\n").c_str()); }

    QProcess process;
    std::vector<std::string> lines;
};

}  // namespace morvane::test
