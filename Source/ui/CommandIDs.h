#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The application's commands, shared by the application object (which defines and performs
    them), the menu model and the main window component. */
namespace CommandIDs
{
    constexpr juce::CommandID convert       = 0x200040;
    constexpr juce::CommandID about         = 0x200060;
    constexpr juce::CommandID minimize      = 0x200410;
    constexpr juce::CommandID bringToFront  = 0x200420;
    constexpr juce::CommandID openUserGuide = 0x200510;
    constexpr juce::CommandID quit          = 0x200050;
}
