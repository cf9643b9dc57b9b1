#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/** Reads MPEG audio files (".mp3"; layer III and the older layers I and II) through libmpg123.

    The reader decodes gaplessly: the encoder's delay and padding, which the encoder records in
    the Info (LAME) header of the first frame, are cut, so the sound starts at the first sample
    that the encoder was given. The length is the number of samples that really decode, counted
    by decoding the stream once when the reader is made, whatever a header claims; a stream
    that changes its sample rate, channel count or layer ends where it does so.

    A stream counts as MPEG audio only when its first frames (all of them, in a shorter stream)
    follow one another without a gap and agree on their kind; random bytes and other kinds of
    file are refused instead of being decoded into noise.

    The reader works only through the stream it is given, which must be able to seek, and gives
    32-bit float samples. There is no writer.
*/
class Mpg123AudioFormat : public juce::AudioFormat
{
public:
    Mpg123AudioFormat();
    ~Mpg123AudioFormat() override;

    juce::Array<int> getPossibleSampleRates() override;
    juce::Array<int> getPossibleBitDepths() override;
    bool canDoStereo() override;
    bool canDoMono() override;
    bool isCompressed() override;

    juce::AudioFormatReader* createReaderFor (juce::InputStream* sourceStream,
                                              bool deleteStreamIfOpeningFails) override;

    /** Writing MP3 is not offered: always nullptr. */
    juce::AudioFormatWriter* createWriterFor (juce::OutputStream* streamToWriteTo, double sampleRateToUse,
                                              unsigned int numberOfChannels, int bitsPerSample,
                                              const juce::StringPairArray& metadataValues,
                                              int qualityOptionIndex) override;
    using juce::AudioFormat::createWriterFor;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Mpg123AudioFormat)
};
