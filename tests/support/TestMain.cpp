#include <gtest/gtest.h>

#include <juce_events/juce_events.h>

// Every test runs on the thread that created the MessageManager, so it is the message thread and
// can pump the loop with runDispatchLoopUntil(). Listing the tests needs no framework at all.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    if (GTEST_FLAG_GET (list_tests))
        return RUN_ALL_TESTS();

    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
