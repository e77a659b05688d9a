// Tonvault: composes the application and shows its window.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Tonvault");
    window.resize(803, 491);
    window.show();
    return app.exec();
}
