#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/StoreLocation.h"
#include "platform/PlatformUi.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SetUpApplication(app);
    MainWindow window(StoreLocation(ExecutableDirectory()));
    window.show();
    return app.exec();
}
