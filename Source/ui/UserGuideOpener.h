#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <sys/types.h>

#include <vector>

/** Hands the user guide to the desktop's opener, and tells the user when the desktop cannot show
    it: no opener at all, or an opener that finds no viewer for PDF files (its reasons go to
    stderr, which a user does not see).

    Each opener runs as a child process of its own, watched from the message thread and reaped as
    soon as it ends. One still running when this object goes (an opener that waits for the viewer
    it started) is left to run on. */
class UserGuideOpener : private juce::Timer
{
public:
    UserGuideOpener() = default;
    ~UserGuideOpener() override;

    /** Starts the desktop's opener for the guide. When it cannot be started, or ends without
        success, a box says so and names the guide's path. */
    void open (const juce::File& guide);

private:
    struct Opening
    {
        pid_t process;
        juce::File guide;
    };

    void timerCallback() override;
    static void showFailure (const juce::File& guide);

    std::vector<Opening> openings;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UserGuideOpener)
};
