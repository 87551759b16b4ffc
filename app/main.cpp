#include "app/Application.h"
#include "app/StoreLocation.h"
#include "app/frm_main.h"
#include "platform/PlatformUi.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SetUpApplication(app);
    frm_main window(StoreLocation(ExecutableDirectory()));
    window.show();
    return app.exec();
}
