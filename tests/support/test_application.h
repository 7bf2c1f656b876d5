// The window tests' application: it counts the requests for the on-screen keyboard that widgets
// send, which Qt turns into QInputMethod::show() for the platform's input context.
#pragma once

#include <QApplication>

class TestApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (event->type() == QEvent::RequestSoftwareInputPanel) {
            ++panelRequests;
        }
        return QApplication::notify(receiver, event);
    }

    inline static int panelRequests = 0;
};
