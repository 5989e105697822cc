#include "app/MainThreadHook.h"

#include "platform/MainThreadQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

void InstallMainThreadQueueHook()
{
    platform::MainThreadQueue::SetCurrentThreadAsMain();
    // A queued call wakes the event loop, which then runs every call waiting.
    platform::MainThreadQueue::SetWakeUpHook([] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { platform::MainThreadQueue::Serve(); }, Qt::QueuedConnection);
    });
}
