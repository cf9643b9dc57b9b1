#include "QuitSignals.h"

#if JUCE_LINUX || JUCE_BSD

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace
{
    // The handler may run on any thread; a lock-free atomic is safe to read there.
    std::atomic<int> wakeFd { -1 };
    static_assert (std::atomic<int>::is_always_lock_free);

    void wakeMessageThread (int)
    {
        const auto fd = wakeFd.load();

        if (fd < 0)
            return;

        const auto savedErrno = errno;
        const char byte = 0;

        // A full pipe is already waking the loop: a failed write loses nothing.
        [[maybe_unused]] const auto written = ::write (fd, &byte, 1);
        errno = savedErrno;
    }
}

QuitSignals::QuitSignals (std::function<void()> onQuitRequested)
    : onQuit (std::move (onQuitRequested))
{
    jassert (wakeFd.load() == -1);

    // Not inherited by the programs we start (the folder chooser).
    int ends[2];

    if (::pipe2 (ends, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        jassertfalse;
        return;
    }

    readEnd = ends[0];
    writeEnd = ends[1];
    wakeFd = writeEnd;
    juce::LinuxEventLoop::registerFdCallback (readEnd, [this] (int) { takeRequests(); });

    struct sigaction action {};
    action.sa_handler = wakeMessageThread;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;

    for (size_t i = 0; i < signals.size(); ++i)
        ::sigaction (signals[i], &action, &previousActions[i]);
}

QuitSignals::~QuitSignals()
{
    if (readEnd < 0)
        return;

    for (size_t i = 0; i < signals.size(); ++i)
        ::sigaction (signals[i], &previousActions[i], nullptr);

    wakeFd = -1;
    juce::LinuxEventLoop::unregisterFdCallback (readEnd);
    ::close (readEnd);
    ::close (writeEnd);
}

void QuitSignals::wakeMessageLoop()
{
    wakeMessageThread (0);
}

void QuitSignals::takeRequests()
{
    // Any number of signals since the last call make one request; once the application is
    // quitting, they are wake-ups only. A call that finds the pipe empty (a pass of the message
    // loop may call again for a byte that a wait inside it has taken already) is no request.
    char bytes[64];
    bool requested = false;

    while (::read (readEnd, bytes, sizeof (bytes)) > 0)
        requested = true;

    if (requested && ! juce::MessageManager::getInstance()->hasStopMessageBeenSent())
        onQuit();
}

#endif
