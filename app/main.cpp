#include "app/kav_app.h"
#include "app/qt_prompts.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    kav::CKavApp::SetUpApplication(application);
    kav::CQtPrompts prompts;
    kav::CKavApp app(prompts);
    if (!app.InitInstance(QApplication::arguments()))
        return app.ExitCode();
    return QApplication::exec();
}
