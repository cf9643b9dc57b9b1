#pragma once

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <exception>
#include <memory>

/** No registered format can read the input file. */
class InputFileInvalid : public std::exception
{
public:
    ~InputFileInvalid() override {}
    const char* what() const noexcept override { return "Invalid input file"; }
};

/** The converted sample does not fit a buffer. */
class NewSampleTooLarge : public std::exception
{
public:
    ~NewSampleTooLarge() override {}
    const char* what() const noexcept override { return "Converted sample size too large"; }
};

/** The output file cannot be written. */
class FileWriteException : public std::exception
{
public:
    ~FileWriteException() override {}
    const char* what() const noexcept override { return "Error writing file"; }
};

/** Converts one audio file into a WAV file at the target rate and bit depth, keeping the source's
    channel count.

    The whole file is resampled into memory (the first half of its progress), then written (the
    second half). Progress is reported to the listener on the calling thread while resampling and
    at the end, and on the message thread while writing. Setting `abort` stops the file in hand
    at its next block. */
class FileConverter : public juce::AsyncUpdater
{
public:
    class ProgressListener
    {
    public:
        virtual ~ProgressListener() = 0;
        virtual void progressChanged (double& fraction) = 0;
    };

    explicit FileConverter (ProgressListener* listener);
    ~FileConverter() override;

    /** Converts the input into a WAV file at the output path, replacing whatever is there.
        Throws InputFileInvalid, NewSampleTooLarge or FileWriteException; returns normally when
        `abort` stopped it. */
    void convertFile (juce::File& input, juce::File& output, int targetRate, int bitDepth);

    void handleAsyncUpdate() override;

    std::atomic<bool> abort { false };

private:
    void convertAndWrite (juce::File& input, juce::File& output, int targetRate, int bitDepth);
    std::unique_ptr<juce::AudioSampleBuffer> convert (juce::AudioFormatReaderSource& source, int sourceRate,
                                                      int targetRate, int channels);
    void writeWave (juce::AudioSampleBuffer* buffer, juce::File& output, const int& rate,
                    const int& channels, const int& bitDepth);
    void updateListeners();

    std::atomic<double> progress { 0.0 };
    juce::Array<ProgressListener*> listeners;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileConverter)
};
