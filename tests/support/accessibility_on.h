// Turns on the platform's accessibility, as Qt's own accessibility tests do, so that widgets send
// their update events to a handler installed with QAccessible::installUpdateHandler. Offscreen
// has no screen-reader bridge and reports accessibility as off, so nothing would be sent. The
// three names below are Qt's private API (exported, but their headers are not installed by
// Debian): the integration's default accessibility object, which offscreen does not replace.
#pragma once

class QPlatformAccessibility
{
public:
    void setActive(bool active);
};

class QPlatformIntegration
{
public:
    // Not virtual here: the call goes to the base implementation, the one offscreen uses.
    QPlatformAccessibility* accessibility() const;
};

class QGuiApplicationPrivate
{
public:
    static QPlatformIntegration* platform_integration;
};

inline void turnAccessibilityOn()
{
    QGuiApplicationPrivate::platform_integration->accessibility()->setActive(true);
}
