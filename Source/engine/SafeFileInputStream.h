#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>

/** What the converter shares with the streams of the file in hand: its stop request, which ends
    every read at once, and whether any read failed. */
struct ReadControl
{
    explicit ReadControl (const std::atomic<bool>& stopRequest) : stop (stopRequest) {}

    const std::atomic<bool>& stop;
    std::atomic<bool> failed { false };
};

/** Reads a regular file and nothing else, so that no decoder can wait for bytes that never come.

    Opening never blocks: a named pipe, a socket or a device is refused, and the test is made
    again on the open descriptor, since the path may have been replaced since it was queued. The
    length is the file's size when it was opened. A read error, or a file that turns out shorter
    than that, ends the stream and is recorded in the control as a failure; a stop request ends
    the stream at once. An ended stream is exhausted, which is how the decoders learn of it. */
class SafeFileInputStream : public juce::InputStream
{
public:
    SafeFileInputStream (const juce::File& file, ReadControl& control);
    ~SafeFileInputStream() override;

    bool openedOk() const noexcept { return descriptor >= 0; }

    /** Another stream over the same open file, at its start, with its own position; null when
        this one did not open or no descriptor is left. */
    std::unique_ptr<SafeFileInputStream> duplicate() const;

    juce::int64 getTotalLength() override;
    bool isExhausted() override;
    int read (void* destination, int maxBytes) override;
    juce::int64 getPosition() override;
    bool setPosition (juce::int64 newPosition) override;

private:
    SafeFileInputStream (int openDescriptor, juce::int64 fileLength, ReadControl& control);

    int descriptor = -1;
    juce::int64 length = 0;
    juce::int64 position = 0;
    bool ended = false;
    ReadControl& control;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SafeFileInputStream)
};
