#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindlecroft"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Brindlecroft"));
    window.resize(1280, 800);
    window.show();
    return QApplication::exec();
}
