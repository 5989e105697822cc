#include "qtcore/QtMainThreadLoop.h"

#include "platform/MainThreadQueue.h"

#include <QCoreApplication>
#include <QEventLoop>
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

void TQtMainThreadLoop::RunUntil(const std::function<bool()>& done)
{
    while (!done()) {
        QEventLoop loop;
        FLoops.push_back(&loop);
        loop.exec();
        FLoops.pop_back();
    }
}

void TQtMainThreadLoop::Wake()
{
    // Every wait leaves its event loop and checks its own condition; those not done go back.
    for (QEventLoop* loop : FLoops)
        loop->quit();
}
