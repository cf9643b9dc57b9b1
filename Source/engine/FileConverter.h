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
    second half) to a temporary file beside the output, which replaces the output only when it is
    complete. Progress is reported to the listener on the calling thread while resampling and at
    the end, and on the message thread while writing. A report from the message thread comes
    only while the file is in hand and never after a later one, so that the listener may combine
    each with its own idea of the current file. Setting `abort` stops the file in hand within a block or a read, whatever step it is
    in; the flag is cleared when the file's conversion ends. */
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

    /** Converts the input into a WAV file at the output path, replacing whatever is there once
        the new file is complete. Throws InputFileInvalid, NewSampleTooLarge or
        FileWriteException, leaving an earlier output as it was; returns normally when `abort`
        stopped it, and then too nothing has changed at the output path. */
    void convertFile (juce::File& input, juce::File& output, int targetRate, int bitDepth);

    void handleAsyncUpdate() override;

    /** The number of frames that a source of the given length comes out with. The ratio and the
        product are single-precision figures, so above 2^24 frames the length may differ from the
        exact product by a few frames; at equal rates it is the source's length, and a source that
        holds frames never comes out empty. */
    static juce::int64 convertedLength (juce::int64 sourceLength, int sourceRate, int targetRate) noexcept;

    std::atomic<bool> abort { false };

private:
    void convertAndWrite (juce::File& input, juce::File& output, int targetRate, int bitDepth);
    std::unique_ptr<juce::AudioSampleBuffer> convert (juce::AudioFormatReaderSource& source, int sourceRate,
                                                      int targetRate, int channels);
    void writeWave (juce::AudioSampleBuffer* buffer, juce::File& output, const int& rate,
                    const int& channels, const int& bitDepth);
    void updateListeners();
    void reportToListeners (double fraction);

    /** Marks the time from the start of a file to the end of its conversion, on every way out. */
    class FileInHand
    {
    public:
        explicit FileInHand (FileConverter& owner);
        ~FileInHand();

    private:
        FileConverter& converter;

        JUCE_DECLARE_NON_COPYABLE (FileInHand)
    };

    std::atomic<double> progress { 0.0 };
    juce::Array<ProgressListener*> listeners;
    juce::CriticalSection reportLock; // held by deliveries while they report
    bool fileInHand = false;          // guarded by reportLock

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileConverter)
};
