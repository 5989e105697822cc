// What a thread needs to serve plug-ins written for a window program, whose calls came from
// that program's main thread: COM initialised there as a window thread has it (OLE, in a
// single-threaded apartment, for its dialogs), and window messages dispatched whenever that
// thread waits, so that windows and timers a plug-in made on it keep working while another
// thread renders. Where there is no COM and no window message, only the waiting is left.
#pragma once

#include <functional>
#include <string>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace platform {

// COM and OLE on the calling thread for the life of the object, which that thread destroys.
class GuiThreadCom {
public:
    GuiThreadCom();
    ~GuiThreadCom();
    GuiThreadCom(const GuiThreadCom&) = delete;
    GuiThreadCom& operator=(const GuiThreadCom&) = delete;
    // False where the system has no COM, or where the thread had it in another apartment.
    bool Initialised() const { return FInitialised; }

private:
    bool FInitialised = false;
};

// A wake-up that any thread raises and one thread waits for; each wait takes it down again.
// A raise that no one waits for yet is kept for the next wait. The waiter of a signal made for
// a window thread dispatches that thread's window messages while it waits (a quit message among
// them is dropped: only the thread's owner ends its loop). Under Wine only that kind costs a
// round trip to Wine's server per wait and raise; a plain one is as cheap as a futex.
class WakeSignal {
public:
    enum class Waiter { Plain, WindowThread };
    explicit WakeSignal(Waiter waiter = Waiter::Plain);
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void Raise();
    void Wait();

private:
#ifdef _WIN32
    void* FEvent = nullptr; // a window thread's waiter waits for it with its messages
    // Otherwise: an SRW lock and a condition variable, whose whole state is one pointer each.
    void* FLock = nullptr;
    void* FRaised = nullptr;
    bool FUp = false;
#else
    std::mutex FLock;
    std::condition_variable FRaised;
    bool FUp = false;
#endif
};

// From now on each dialog box that the calling thread opens (a message box, say) is handed to
// report with its caption and its text as it opens. A call that waits for such a box where
// nobody can answer it is cut off by its time limit; this way its failure can say why.
// Nothing happens where there are no dialog boxes.
void WatchDialogBoxes(void (*report)(const std::string& caption, const std::string& text));

} // namespace platform
