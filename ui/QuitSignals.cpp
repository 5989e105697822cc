#include "ui/QuitSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int gQuitPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gQuitPipe[1], &byte, 1);
}

} // namespace

struct TQuitSignals::Saved {
    struct sigaction Actions[std::size(kSignals)];
};

TQuitSignals::TQuitSignals() : FSaved(std::make_unique<Saved>())
{
    if (::pipe2(gQuitPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        gQuitPipe[0] = gQuitPipe[1] = -1;
        FSaved.reset(); // no pipe: the signals keep their default
        return;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // The handler goes after one signal: a program that does not end in good order can still be
    // ended by a second one.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &FSaved->Actions[i]);
}

TQuitSignals::~TQuitSignals()
{
    FNotifier.reset();
    if (!FSaved)
        return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &FSaved->Actions[i], nullptr);
    ::close(gQuitPipe[0]);
    ::close(gQuitPipe[1]);
    gQuitPipe[0] = gQuitPipe[1] = -1;
}

void TQuitSignals::Watch(std::function<void()> onQuit)
{
    if (!FSaved)
        return;
    FOnQuit = std::move(onQuit);
    FNotifier = std::make_unique<QSocketNotifier>(gQuitPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(), [this] {
        char bytes[16];
        const ssize_t n = ::read(gQuitPipe[0], bytes, sizeof bytes);
        for (ssize_t i = 0; i < n; ++i)
            if (FOnQuit)
                FOnQuit();
    });
}
