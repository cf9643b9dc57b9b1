#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <vector>

namespace quillon::test
{
    /** One input file, as the bytes a sample folder might hold, with what converting it to
        44100 Hz 16-bit WAV must give: either refused with no output, or converted with the
        given frames and channels. */
    struct InputCase
    {
        juce::String name;              // a C identifier; the file is name + extension
        juce::String extension;         // with its full stop
        juce::MemoryBlock bytes;
        bool refused = false;
        juce::int64 frames = 0;         // of the output
        int channels = 0;
        juce::int64 framesTolerance = 0; // a lossy decoder's delay and padding
        std::vector<double> tones;      // per output channel, the frequency it carries; empty when not checked
    };

    /** Ordinary files of every input format, damaged ones and unusual ones, each built here. */
    std::vector<InputCase> makeInputCases();

    /** The output length for a source of the given frames at the given rate. */
    juce::int64 convertedFrames (juce::int64 frames, int rate);
}
