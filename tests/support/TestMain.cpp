#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

#include <dlfcn.h>

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
}

// Every test runs on the thread that created the MessageManager, so it is the message thread and
// can pump the loop with runDispatchLoopUntil(). Listing the tests needs no framework at all.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    if (GTEST_FLAG_GET (list_tests))
        return RUN_ALL_TESTS();

    keepXLibrariesLoaded();

    // The framework installs its X error handlers only in a standalone application; without them
    // the first harmless X error (a missing window property on a bare X server) ends the process.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
