#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The look of the program's message boxes, which stand in for the desktop's own alert panels
    where the framework has none: the framework's look in its light colour scheme, so that the
    boxes belong with the light main window and its "File exists" dialog, and with the box's
    icon drawn whole beside the text instead of cut off at the box's corner.

    Made the default look and feel by the application; it hands the default back when it goes. */
class AlertLook : public juce::LookAndFeel_V4
{
public:
    AlertLook();
    ~AlertLook() override;

    void drawAlertBox (juce::Graphics&, juce::AlertWindow&, const juce::Rectangle<int>& textArea,
                       juce::TextLayout&) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AlertLook)
};
