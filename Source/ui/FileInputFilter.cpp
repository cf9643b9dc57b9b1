#include "ui/FileInputFilter.h"

namespace
{
    constexpr int maxInsertedLength = 8;

    // Characters that cannot be typed into an output name.
    const juce::String refusedCharacters { "\"#@,;:<>*^|?\\/" };
}

FileInputFilter::~FileInputFilter() = default;

juce::String FileInputFilter::filterNewText (juce::TextEditor&, const juce::String& newInput)
{
    return newInput.removeCharacters (refusedCharacters).substring (0, maxInsertedLength);
}
