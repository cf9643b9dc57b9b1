#include "ModalWait.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

// The blocking waits of the program run inside an event that the message loop is dispatching.
// Quitting ends the message loop for good, so a test that quits is the last thing its process
// does (each test case runs in its own process).

using quillon::test::pumpUntil;
using quillon::test::WhenReady;

namespace
{
    /** A pipe whose read end the message loop watches, as it watches the X display and its own
        queue. The callback empties the pipe, counts the call and runs the given action. */
    class WatchedPipe
    {
    public:
        explicit WatchedPipe (std::function<void()> onReadable = {}) : action (std::move (onReadable))
        {
            int ends[2];

            if (::pipe2 (ends, O_CLOEXEC | O_NONBLOCK) != 0)
            {
                ADD_FAILURE() << "no pipe";
                return;
            }

            readEnd = ends[0];
            writeEnd = ends[1];
            juce::LinuxEventLoop::registerFdCallback (readEnd, [this] (int)
            {
                char bytes[16];

                while (::read (readEnd, bytes, sizeof (bytes)) > 0)
                {
                }

                ++calls;

                if (action)
                    action();
            });
        }

        ~WatchedPipe()
        {
            if (readEnd < 0)
                return;

            juce::LinuxEventLoop::unregisterFdCallback (readEnd);
            ::close (readEnd);
            ::close (writeEnd);
        }

        void makeReadable() const
        {
            const char byte = 0;
            EXPECT_EQ (::write (writeEnd, &byte, 1), 1);
        }

        int fd() const noexcept { return readEnd; }

        int calls = 0;

    private:
        std::function<void()> action;
        int readEnd = -1;
        int writeEnd = -1;

        JUCE_DECLARE_NON_COPYABLE (WatchedPipe)
    };
}

// One pass of the message loop finds two sources ready; the first one's callback waits. While it
// waits, far more sources are ready at once than the outer pass saw. The outer pass must then go
// on to the second source as it found it (the framework's own loop, nested here, leaves it
// walking freed memory: a crash after a dialog closes, which AddressSanitizer reports every time).
// The wait may already have served the second source: a second call finds it empty.
TEST (ModalWait, AWaitInsideAnEventLeavesTheEnclosingPassIntact)
{
    std::unique_ptr<WatchedPipe> second;
    std::vector<std::unique_ptr<WatchedPipe>> many;
    bool waitEnded = false;
    int secondCallsBeforeTheWait = -1;

    const WatchedPipe first ([&]
    {
        if (secondCallsBeforeTheWait >= 0)
            return;

        secondCallsBeforeTheWait = second->calls;

        for (int i = 0; i < 100; ++i)
        {
            many.push_back (std::make_unique<WatchedPipe>());
            many.back()->makeReadable();
        }

        waitEnded = ModalWait::runUntil ([&]
        {
            return std::all_of (many.begin(), many.end(), [] (const auto& pipe) { return pipe->calls > 0; });
        });
    });

    second = std::make_unique<WatchedPipe>();
    ASSERT_LT (first.fd(), second->fd()) << "the outer pass takes the sources in the order of their numbers";

    first.makeReadable();
    second->makeReadable();

    ASSERT_TRUE (pumpUntil ([&] { return second->calls > 0; }));
    EXPECT_EQ (secondCallsBeforeTheWait, 0);
    EXPECT_TRUE (waitEnded);
    EXPECT_EQ (first.calls, 1);

    for (const auto& pipe : many)
        EXPECT_EQ (pipe->calls, 1);
}

TEST (ModalWait, TheAnswerIsTheResultTheBoxClosesWith)
{
    juce::Component box;
    const ModalWait::Answer answer;
    box.enterModalState (false, answer.callback());

    WhenReady close ([&]
    {
        box.exitModalState (3);
        return true;
    });

    EXPECT_EQ (answer.wait(), 3);
    EXPECT_TRUE (close.done());
    EXPECT_FALSE (box.isCurrentlyModal());
}

// A quit ends a wait at once, whatever it waits for; a box left open answers 0.
TEST (ModalWait, AQuitEndsTheWait)
{
    juce::Component box;
    const ModalWait::Answer answer;
    box.enterModalState (false, answer.callback());

    WhenReady quit ([]
    {
        juce::JUCEApplicationBase::quit();
        return true;
    });

    EXPECT_EQ (answer.wait(), 0);
    EXPECT_TRUE (quit.done());
    EXPECT_FALSE (ModalWait::runUntil ([] { return false; }));

    box.exitModalState (1);
}
