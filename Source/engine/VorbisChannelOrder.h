#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <array>
#include <memory>

/** Reads an Ogg Vorbis reader's channels in WAV order.

    Vorbis streams of 3 to 8 channels keep their speakers in the order of the Vorbis channel
    mapping (5.1 is front left, centre, front right, rear left, rear right, LFE); WAV files keep
    them in the order of their speaker bits (front left, front right, centre, LFE, back left, back
    right, ...). The framework's Ogg Vorbis reader and writer pass channels through in stream
    order, so a 5.1 file would come out with its centre and right swapped and the rest shifted. */
class VorbisChannelOrderReader : public juce::AudioFormatReader
{
public:
    /** An Ogg Vorbis reader, wrapped when its channel count has a Vorbis order that differs from
        WAV order. Any other reader, and one that reads in WAV order already, comes back as it is. */
    static std::unique_ptr<juce::AudioFormatReader> inWavOrder (std::unique_ptr<juce::AudioFormatReader> reader);

    ~VorbisChannelOrderReader() override = default;

    bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                      juce::int64 startSampleInFile, int numSamples) override;

    juce::AudioChannelSet getChannelLayout() override;

private:
    static constexpr int maxChannels = 8;

    VorbisChannelOrderReader (std::unique_ptr<juce::AudioFormatReader> vorbisReader,
                              const std::array<int, maxChannels>& vorbisChannels);

    std::unique_ptr<juce::AudioFormatReader> source;
    std::array<int, maxChannels> vorbisChannelOf {}; // the stream's channel for each WAV channel

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VorbisChannelOrderReader)
};
