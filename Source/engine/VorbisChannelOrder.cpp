#include "engine/VorbisChannelOrder.h"

#include <vector>

namespace
{
    using Speaker = juce::AudioChannelSet::ChannelType;

    /** The speakers of a Vorbis stream of 3 to 8 channels, in stream order (channel mapping
        family 0). A channel set keeps its speakers in the order of the framework's channel
        types, which is the order of a WAV file's speaker bits. */
    std::vector<Speaker> vorbisSpeakers (unsigned int numChannels)
    {
        switch (numChannels)
        {
            case 3:  return { Speaker::left, Speaker::centre, Speaker::right };
            case 4:  return { Speaker::left, Speaker::right, Speaker::leftSurround, Speaker::rightSurround };
            case 5:  return { Speaker::left, Speaker::centre, Speaker::right, Speaker::leftSurround, Speaker::rightSurround };
            case 6:  return { Speaker::left, Speaker::centre, Speaker::right, Speaker::leftSurround, Speaker::rightSurround,
                              Speaker::LFE };
            case 7:  return { Speaker::left, Speaker::centre, Speaker::right, Speaker::leftSurroundSide,
                              Speaker::rightSurroundSide, Speaker::centreSurround, Speaker::LFE };
            case 8:  return { Speaker::left, Speaker::centre, Speaker::right, Speaker::leftSurroundSide,
                              Speaker::rightSurroundSide, Speaker::leftSurround, Speaker::rightSurround, Speaker::LFE };
            default: return {};
        }
    }
}

std::unique_ptr<juce::AudioFormatReader> VorbisChannelOrderReader::inWavOrder (std::unique_ptr<juce::AudioFormatReader> reader)
{
    if (reader == nullptr
         || reader->getFormatName() != juce::OggVorbisAudioFormat().getFormatName()
         || dynamic_cast<VorbisChannelOrderReader*> (reader.get()) != nullptr)
        return reader;

    const auto speakers = vorbisSpeakers (reader->numChannels);
    const auto wavLayout = juce::AudioChannelSet::channelSetWithChannels ({ speakers.data(), (int) speakers.size() });

    std::array<int, maxChannels> vorbisChannels {};
    bool reordered = false;

    for (int stream = 0; stream < (int) speakers.size(); ++stream)
    {
        const auto wav = wavLayout.getChannelIndexForType (speakers[(size_t) stream]);
        vorbisChannels[(size_t) wav] = stream;
        reordered = reordered || wav != stream;
    }

    if (! reordered)
        return reader;

    return std::unique_ptr<juce::AudioFormatReader> (new VorbisChannelOrderReader (std::move (reader), vorbisChannels));
}

VorbisChannelOrderReader::VorbisChannelOrderReader (std::unique_ptr<juce::AudioFormatReader> vorbisReader,
                                                    const std::array<int, maxChannels>& vorbisChannels)
    : AudioFormatReader (nullptr, vorbisReader->getFormatName()),
      source (std::move (vorbisReader)),
      vorbisChannelOf (vorbisChannels)
{
    sampleRate            = source->sampleRate;
    bitsPerSample         = source->bitsPerSample;
    lengthInSamples       = source->lengthInSamples;
    numChannels           = source->numChannels;
    usesFloatingPointData = source->usesFloatingPointData;
    metadataValues        = source->metadataValues;
}

bool VorbisChannelOrderReader::readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                                            juce::int64 startSampleInFile, int numSamples)
{
    std::array<int*, maxChannels> streamChannels {};

    for (int wav = juce::jmin (numDestChannels, (int) numChannels); --wav >= 0;)
        streamChannels[(size_t) vorbisChannelOf[(size_t) wav]] = destChannels[wav];

    return source->readSamples (streamChannels.data(), (int) numChannels, startOffsetInDestBuffer,
                                startSampleInFile, numSamples);
}

juce::AudioChannelSet VorbisChannelOrderReader::getChannelLayout()
{
    const auto speakers = vorbisSpeakers (numChannels);
    return juce::AudioChannelSet::channelSetWithChannels ({ speakers.data(), (int) speakers.size() });
}
