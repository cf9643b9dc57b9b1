#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

// Every test runs on the thread that created the MessageManager, so it is the message thread and
// can pump the loop with runDispatchLoopUntil(). Listing the tests needs no framework at all.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    if (GTEST_FLAG_GET (list_tests))
        return RUN_ALL_TESTS();

    // The framework installs its X error handlers only in a standalone application; without them
    // the first harmless X error (a missing window property on a bare X server) ends the process.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
