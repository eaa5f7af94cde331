#include "quit_on_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace morvane {

namespace {

// Written from the signal handler: only async-signal-safe calls there.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signal) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int saved = errno;
    if (signalPipe[1] >= 0) {
        const ssize_t written = ::write(signalPipe[1], &byte, 1);
        (void)written;
    }
    errno = saved;
    // The next one is not caught: a program that does not get out by itself can still be stopped.
    std::signal(signal, SIG_DFL);
}

}  // namespace

void quitOnTerminationSignals(std::function<void()> quit) {
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [quit = std::move(quit)] {
        unsigned char byte = 0;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        if (quit)
            quit();
        else
            QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace morvane
