#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

#include <csignal>
#include <dlfcn.h>
#include <execinfo.h>
#include <unistd.h>

#if defined (__has_feature)
 #if __has_feature (address_sanitizer) || __has_feature (thread_sanitizer)
  #define QUILLON_SANITIZED 1
 #endif
#endif

namespace
{
    /** The framework loads the X libraries when it starts its windowing and unloads them when it
        shuts down, before the process exits. What they keep for themselves is then held by code
        that is gone, and LeakSanitizer, checking at exit, reports it as leaked from an unknown
        module. Loading them here once more, never to be unloaded, keeps that memory reachable. */
    void keepXLibrariesLoaded()
    {
        for (const auto* name : { "libX11.so.6", "libXext.so.6", "libXcursor.so.1", "libXinerama.so.1", "libXrandr.so.2" })
            dlopen (name, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    }

   #if ! QUILLON_SANITIZED
    /** A crash prints the crashing thread's stack before the process ends by the same signal:
        a test that fails once on a slower machine leaves more than a missing "[ OK ]" behind.
        The sanitizers print their own reports. */
    void printStackAndEnd (int signalNumber)
    {
        static constexpr char heading[] = "\n*** the test program crashed; its stack:\n";
        [[maybe_unused]] const auto written = ::write (STDERR_FILENO, heading, sizeof (heading) - 1);

        void* frames[64];
        backtrace_symbols_fd (frames, backtrace (frames, 64), STDERR_FILENO);

        std::signal (signalNumber, SIG_DFL);
        std::raise (signalNumber);
    }

    void printStackOnCrash()
    {
        // Loaded now: the first backtrace() would otherwise load libgcc inside the handler.
        void* frame;
        backtrace (&frame, 1);

        for (const auto signalNumber : { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT })
            std::signal (signalNumber, printStackAndEnd);
    }
   #endif
}

// Every test runs on the thread that created the MessageManager, so it is the message thread and
// can pump the loop with runDispatchLoopUntil(). Listing the tests needs no framework at all.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    if (GTEST_FLAG_GET (list_tests))
        return RUN_ALL_TESTS();

    keepXLibrariesLoaded();

   #if ! QUILLON_SANITIZED
    printStackOnCrash();
   #endif

    // The framework installs its X error handlers only in a standalone application; without them
    // the first harmless X error (a missing window property on a bare X server) ends the process.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
