// Test entry point for code that needs a Qt application object and its event loop on the main thread.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlecroft"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
