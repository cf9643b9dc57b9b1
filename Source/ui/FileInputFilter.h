#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The typing filter of the output-name editors: removes the characters a name may not hold and
    keeps at most 8 characters of each inserted piece. */
class FileInputFilter : public juce::TextEditor::InputFilter
{
public:
    ~FileInputFilter() override;

    juce::String filterNewText (juce::TextEditor&, const juce::String& newInput) override;
};
