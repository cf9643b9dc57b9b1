#pragma once

#include <juce_events/juce_events.h>

#if JUCE_LINUX || JUCE_BSD

#include <array>
#include <csignal>
#include <functional>

/** Turns the signals that ask the program to end (SIGTERM from the system, SIGINT and SIGHUP
    from a terminal) into a call on the message thread, so that the program can quit in order
    instead of dying wherever it stands. The handler only writes a byte into a pipe that the
    message loop watches; everything else happens in the call, also while a modal loop runs.

    The previous handlers (the framework's own for SIGINT among them) come back when the object
    goes. At most one object exists at a time. */
class QuitSignals
{
public:
    static constexpr std::array<int, 3> signals { SIGTERM, SIGINT, SIGHUP };

    explicit QuitSignals (std::function<void()> onQuitRequested);
    ~QuitSignals();

    /** Wakes the message loop once, as a signal would, without a new request: for a quit that
        the loop must notice at once. Does nothing while no object exists. */
    static void wakeMessageLoop();

private:
    void takeRequests();

    std::function<void()> onQuit;
    int readEnd = -1;
    int writeEnd = -1;
    std::array<struct sigaction, signals.size()> previousActions {};

    JUCE_DECLARE_NON_COPYABLE (QuitSignals)
};

#endif
