#pragma once

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <functional>

namespace quillon::test
{
    /** Runs the message loop until the condition holds or the time-out passes; returns the
        condition's last value. Call on the message thread only. */
    bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 10000);

    /** Runs the message loop for the given time. */
    void pumpFor (int milliseconds);

    /** Runs a command-line tool (xdotool, wmctrl) to its end; true when it succeeded. */
    bool runTool (const juce::StringArray& command, int timeoutMs = 20000);

    /** Writes an executable shell script (replaceWithText would end its lines with CR LF). */
    void writeScript (const juce::File& file, const juce::String& text);

    /** Runs a step from the message loop every few milliseconds until it returns true. Modal
        loops (folder chooser, dialogs) keep the message loop running, so this is how a test
        answers them. */
    class WhenReady : private juce::Timer
    {
    public:
        explicit WhenReady (std::function<bool()> stepToRun) : step (std::move (stepToRun)) { startTimer (10); }
        ~WhenReady() override { stopTimer(); }

        bool done() const noexcept { return finished; }

    private:
        void timerCallback() override
        {
            if (step())
            {
                finished = true;
                stopTimer();
            }
        }

        std::function<bool()> step;
        bool finished = false;
    };

    /** A fresh folder below the system's temporary folder, deleted with everything in it when
        the object goes. */
    class TemporaryFolder
    {
    public:
        TemporaryFolder();
        ~TemporaryFolder();

        const juce::File& get() const noexcept { return folder; }
        juce::File file (const juce::String& relativePath) const { return folder.getChildFile (relativePath); }

        /** Creates a file (and its parent folders) holding the given text. */
        juce::File createFile (const juce::String& relativePath, const juce::String& content = "x") const;

    private:
        juce::File folder;

        JUCE_DECLARE_NON_COPYABLE (TemporaryFolder)
    };

    /** Writes the buffer to the file in the format named by the file's extension (".wav",
        ".aiff", ".aif", ".flac", ".ogg") at the given rate and bit depth. */
    bool writeAudioFile (const juce::File& file, const juce::AudioBuffer<float>& samples,
                         double sampleRate, int bitsPerSample = 16);

    /** Encodes a WAV file as MP3 with Debian's lame, run with the given options; false when lame
        is missing or fails. */
    bool encodeMp3 (const juce::File& wav, const juce::File& mp3, const juce::StringArray& lameOptions = {});

    /** An 8-bit PCM WAV file whose data chunk holds the given number of bytes, all of them
        silent and none of them on disk: the file is sparse, so a long one costs nothing. */
    bool writeSparseWave (const juce::File& file, int rate, int channels, juce::int64 dataBytes);

    /** A sine of the given frequency and peak level on every channel. */
    juce::AudioBuffer<float> makeSine (int channels, int samples, double sampleRate,
                                       double frequency, float level = 0.5f);
}
