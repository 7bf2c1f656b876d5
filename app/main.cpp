#include "Form1.h"
#include "version.h"

#include <QApplication>
#include <sys/prctl.h>
#include <sys/resource.h>

int main(int argc, char* argv[])
{
    // The boxes hold keys and plain hex: no core file, and no reading of this process's memory
    // by other programs of the same user. The desktop's services reach the window through its
    // sockets, which this leaves alone.
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit noCore {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("morvalen"));
    QApplication::setApplicationVersion(QStringLiteral(MORVALEN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(MORVALEN_APP_ID));
    // On the stack and never deleted on close: a command suspended at a yield when the window is
    // closed still finishes with a live window, and exec() returns once it has.
    Form1 window;
    window.show();
    return QApplication::exec();
}
