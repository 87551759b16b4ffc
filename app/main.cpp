#include "app/Application.h"
#include "app/StoreLocation.h"
#include "app/frm_main.h"
#include "platform/PlatformUi.h"

#include <QApplication>

int main(int argc, char** argv) {
    if (const std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
    QApplication app(argc, argv);
    SetUpApplication(app);
    frm_main window(StoreLocation(ExecutableDirectory()));
    window.show();
    return app.exec();
}
