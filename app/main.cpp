#include "app/kav_app.h"
#include "app/qt_prompts.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    kav::CKavApp::SetUpApplication(application);
    kav::CQtPrompts prompts;
    kav::CKavApp app(prompts);
    // Raw bytes: a file name need not be valid text. QApplication has taken
    // its own options out of argv by now.
    QByteArrayList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    if (!app.InitInstance(arguments))
        return app.ExitCode();
    return QApplication::exec();
}
