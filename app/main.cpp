#include "app/mainwindow.h"
#include "runtime/core/allocator.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/fileservices.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[]) {
    pennaro::keepFreedMemoryForReuse();
    QApplication app(argc, argv);
    QDir::setCurrent(pennaro::Cp936Codec::decode(pennaro::programDirectory()));
    pennaro::MainWindow window;
    window.open();
    app.exec();
    return 0;
}
