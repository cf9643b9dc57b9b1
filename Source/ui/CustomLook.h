#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The application's look and feel: LookAndFeel_V3 with a blue gradient progress bar with black
    text, and tick boxes and toggle buttons drawn as plain black outlines. Holds no state. */
class CustomLook : public juce::LookAndFeel_V3
{
public:
    CustomLook();
    ~CustomLook() override;

    void drawToggleButton (juce::Graphics&, juce::ToggleButton&,
                           bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawTickBox (juce::Graphics&, juce::Component&, float x, float y, float w, float h,
                      bool ticked, bool isEnabled,
                      bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawProgressBar (juce::Graphics&, juce::ProgressBar&, int width, int height,
                          double progress, const juce::String& textToShow) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLook)
};
