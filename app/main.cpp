#include "Form1.h"
#include "platform/harden.h"
#include "version.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // The boxes hold keys and plain hex.
    morvalen::hardenProcess();
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
