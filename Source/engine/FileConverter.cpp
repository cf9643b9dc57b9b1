#include "engine/FileConverter.h"

#include "engine/InputFormats.h"

#include <cerrno>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace
{
    constexpr int blockSize = 16384;
    constexpr int outputBufferSize = 32768;
    constexpr juce::int64 maxBufferSamples = std::numeric_limits<int>::max();
    constexpr double firstBeyondAnInt = 2147483648.0;

    // Source rates within this factor of the target: from 1379 Hz to 1411200 Hz for 44100 Hz,
    // beyond the 768 kHz of the fastest recordings and the 4 kHz of the slowest samplers.
    constexpr double maxRateRatio = 32.0;

    void render (juce::ResamplingAudioSource& resampler, juce::AudioSampleBuffer& buffer,
                 juce::int64 start, juce::int64 count)
    {
        resampler.getNextAudioBlock (juce::AudioSourceChannelInfo (&buffer, (int) start, (int) count));
    }

    /** Passes samples to an integer writer's write(), rounded to nearest at its bit depth and
        left-justified in 32 bits. The framework's float write scales by 2^31 - 1 and the WAV
        writer then keeps the top bits, which moves every positive 16-bit sample down a step. */
    class BlockWriter
    {
    public:
        BlockWriter (juce::AudioFormatWriter& w, int channels)
            : writer (w),
              numChannels (channels),
              scale (std::ldexp (1.0, w.getBitsPerSample() - 1)),
              justification ((juce::int64) 1 << (32 - w.getBitsPerSample())),
              samples ((size_t) channels * blockSize),
              pointers ((size_t) channels + 1, nullptr)
        {
            jassert (! writer.isFloatingPoint());
        }

        bool write (const juce::AudioSampleBuffer& source, int start, int count)
        {
            jassert (count <= blockSize);

            for (int channel = 0; channel < numChannels; ++channel)
            {
                const auto* input = source.getReadPointer (channel, start);
                auto* const output = samples.data() + (size_t) channel * blockSize;

                for (int i = 0; i < count; ++i)
                    output[i] = (int) (toInteger (input[i]) * justification);

                pointers[(size_t) channel] = output;
            }

            return writer.write (pointers.data(), count);
        }

    private:
        juce::int64 toInteger (float sample) const noexcept
        {
            const auto scaled = (double) sample * scale;

            if (scaled >= scale - 1.0)
                return (juce::int64) scale - 1;

            if (scaled <= -scale)
                return -(juce::int64) scale;

            return juce::roundToInt (scaled);
        }

        juce::AudioFormatWriter& writer;
        const int numChannels;
        const double scale;
        const juce::int64 justification;
        std::vector<int> samples;
        std::vector<const int*> pointers;
    };

    /** Deletes a file that was not completed, after whatever writes it has been closed. */
    struct IncompleteFile
    {
        ~IncompleteFile()
        {
            if (! completed)
                file.deleteFile();
        }

        const juce::File& file;
        bool completed = false;
    };

    /** A new, empty, hidden file beside the target, made for this write alone; none when the
        folder takes no new file. Its extension keeps it out of a queue that the folder is
        dropped into. */
    juce::File createSiblingFor (const juce::File& target)
    {
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            const auto candidate = target.getSiblingFile ("." + target.getFileName() + "."
                                                          + juce::String::toHexString (juce::Random::getSystemRandom().nextInt())
                                                          + ".part");
            const auto descriptor = ::open (candidate.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);

            if (descriptor >= 0)
            {
                ::close (descriptor);
                return candidate;
            }

            if (errno != EEXIST)
                break;
        }

        return {};
    }

    /** Puts the complete file in the target's place in one step. An earlier file there is at
        stake, so the new one is made to reach the disk first. */
    bool moveOver (const juce::File& complete, const juce::File& target)
    {
        if (target.exists())
        {
            const auto descriptor = ::open (complete.getFullPathName().toRawUTF8(), O_RDONLY | O_CLOEXEC);
            const auto synced = descriptor >= 0 && ::fsync (descriptor) == 0;

            if (descriptor >= 0)
                ::close (descriptor);

            if (! synced)
                return false;
        }

        return ::rename (complete.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) == 0;
    }
}

//==============================================================================
FileConverter::ProgressListener::~ProgressListener() {}

FileConverter::FileConverter (ProgressListener* listener)
{
    if (listener != nullptr)
        listeners.add (listener);
}

FileConverter::~FileConverter() {}

FileConverter::FileInHand::FileInHand (FileConverter& c) : converter (c)
{
    const juce::ScopedLock sl (converter.reportLock);
    converter.progress = 0.0;
    converter.fileInHand = true;
}

FileConverter::FileInHand::~FileInHand()
{
    {
        // Waits for a delivery that is reporting now; a later one finds no file and reports nothing.
        const juce::ScopedLock sl (converter.reportLock);
        converter.fileInHand = false;
    }

    converter.cancelPendingUpdate();
    converter.abort = false;
}

void FileConverter::convertFile (juce::File& input, juce::File& output, int targetRate, int bitDepth)
{
    const FileInHand file (*this);

    try
    {
        convertAndWrite (input, output, targetRate, bitDepth);
    }
    catch (const std::bad_alloc&)
    {
        // The converted sample is held whole in memory; this is the size the machine could not take.
        throw NewSampleTooLarge();
    }
}

void FileConverter::convertAndWrite (juce::File& input, juce::File& output, int targetRate, int bitDepth)
{
    // Integer PCM only: the WAV writer's 32 bits are floats.
    if (targetRate < 1 || bitDepth >= 32 || ! juce::WavAudioFormat().getPossibleBitDepths().contains (bitDepth))
        throw FileWriteException();

    ReadControl control (abort);
    std::unique_ptr<juce::AudioFormatReader> reader (openInputFile (input, control));

    if (abort)
        return;

    if (reader == nullptr)
        throw InputFileInvalid();

    // The rate counts in whole hertz. The resampler reads ratio times a block of the source at
    // once, so a rate far above the target (beyond anything recorded) would need gigabytes for a
    // few kilobytes of file; one far below it (a damaged header's 2 Hz, say) multiplies the
    // file's length as many times over.
    const auto sourceRate = std::floor (reader->sampleRate);

    if (! (sourceRate * maxRateRatio >= (double) targetRate && sourceRate <= (double) targetRate * maxRateRatio))
        throw InputFileInvalid();

    const auto channels = (int) reader->numChannels;
    std::unique_ptr<juce::AudioSampleBuffer> buffer;

    {
        // The input is closed before anything is written: the output may take its place.
        juce::AudioFormatReaderSource source (reader.release(), true);
        buffer = convert (source, (int) sourceRate, targetRate, channels);
    }

    if (abort)
        return;

    // What was read is not the whole file.
    if (control.failed)
        throw InputFileInvalid();

    progress = 0.5;
    writeWave (buffer.get(), output, targetRate, channels, bitDepth);
}

std::unique_ptr<juce::AudioSampleBuffer> FileConverter::convert (juce::AudioFormatReaderSource& source, int sourceRate,
                                                                 int targetRate, int channels)
{
    juce::ResamplingAudioSource resampler (&source, false, channels);
    resampler.prepareToPlay (blockSize, (double) sourceRate);

    const auto length = source.getTotalLength();
    const auto ratio = (float) targetRate / (float) sourceRate;
    const auto outputLength = convertedLength (length, sourceRate, targetRate);

    if (outputLength > maxBufferSamples)
        throw NewSampleTooLarge();

    resampler.setResamplingRatio ((double) sourceRate / targetRate);

    // Upsampling renders the converted length, in blocks of what 16384 source samples give;
    // downsampling and equal rates render the source length in blocks of 16384, cut to the
    // converted length at the end.
    const auto upsampling = targetRate > sourceRate;
    const auto fullBlocks = length / blockSize;
    const auto blockOutput = upsampling ? (juce::int64) (ratio * (float) blockSize) : (juce::int64) blockSize;
    const auto renderedLength = upsampling ? outputLength : length;

    // Above 2^24 samples the single-precision length can fall short of the full blocks; and
    // downsampling needs room for the whole source before the cut.
    const auto bufferLength = juce::jmax (renderedLength, fullBlocks * blockOutput);

    if (bufferLength > maxBufferSamples)
        throw NewSampleTooLarge();

    auto buffer = std::make_unique<juce::AudioSampleBuffer> (channels, (int) bufferLength);

    for (juce::int64 block = 0; block < fullBlocks; ++block)
    {
        render (resampler, *buffer, block * blockOutput, blockOutput);

        if (abort)
            return {};

        progress = (double) (block * blockOutput) / (double) renderedLength * 0.5;
        updateListeners();
    }

    // The resampler takes any block size; preparing it again would drop what it has read ahead.
    if (const auto end = fullBlocks * blockOutput; end < renderedLength)
        render (resampler, *buffer, end, renderedLength - end);

    // Cut to the converted length; shrinking keeps the block in place rather than copying it.
    buffer->setSize (channels, (int) outputLength, true, true, true);
    updateListeners();
    return buffer;
}

juce::int64 FileConverter::convertedLength (juce::int64 sourceLength, int sourceRate, int targetRate) noexcept
{
    // At equal rates the resampler copies the source sample for sample.
    if (sourceRate == targetRate)
        return sourceLength;

    const auto ratio = (float) targetRate / (float) sourceRate;
    const auto singleLength = (float) sourceLength * ratio;

    if (singleLength >= (float) firstBeyondAnInt)
        return (juce::int64) firstBeyondAnInt;

    return juce::jmax ((juce::int64) singleLength, (juce::int64) (sourceLength > 0 ? 1 : 0));
}

void FileConverter::writeWave (juce::AudioSampleBuffer* buffer, juce::File& output, const int& rate,
                               const int& channels, const int& bitDepth)
{
    // The output is written beside the target and takes its place only when complete, so that a
    // failed or stopped write leaves an earlier output as it was.
    const auto temporary = createSiblingFor (output);

    if (temporary == juce::File())
        throw FileWriteException();

    IncompleteFile incomplete { temporary };
    std::unique_ptr<juce::FileOutputStream> stream (temporary.createOutputStream (outputBufferSize));
    juce::WavAudioFormat wav;

    if (stream == nullptr)
        throw FileWriteException();

    auto& fileStream = *stream;

    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream.get(), rate, (unsigned int) channels,
                                                                          bitDepth, {}, 0));
    if (writer == nullptr)
        throw FileWriteException();

    stream.release(); // the writer owns it now

    const auto fail = [&writer]
    {
        writer.reset();
        throw FileWriteException();
    };

    BlockWriter blocks (*writer, channels);
    const auto numSamples = buffer->getNumSamples();
    const auto fullBlocks = numSamples / blockSize;

    for (int block = 0; block < fullBlocks; ++block)
    {
        if (! blocks.write (*buffer, block * blockSize, blockSize))
            fail();

        progress = (double) (block * blockSize) / numSamples * 0.5 + 0.5;

        if (abort)
            return;

        triggerAsyncUpdate();
    }

    for (int sample = fullBlocks * blockSize; sample < numSamples; ++sample)
        if (! blocks.write (*buffer, sample, 1))
            fail();

    // Everything must reach the disk before the file counts as written: the stream reports a
    // failed write (a full disk) only when its buffer is flushed, and the writer's header goes
    // out when it is closed.
    if (! writer->flush() || fileStream.getStatus().failed())
        fail();

    const auto dataBytes = (juce::int64) numSamples * channels * bitDepth / 8;
    const auto expectedSize = fileStream.getPosition() + (dataBytes & 1);
    writer.reset();

    if (temporary.getSize() != expectedSize || ! moveOver (temporary, output))
        throw FileWriteException();

    incomplete.completed = true;
    progress = 1.0;
    updateListeners();
}

void FileConverter::updateListeners()
{
    auto fraction = 0.0;

    {
        // A delivery that read an earlier fraction has finished reporting it before this starts.
        const juce::ScopedLock sl (reportLock);
        fraction = progress;
    }

    reportToListeners (fraction);
}

void FileConverter::handleAsyncUpdate()
{
    cancelPendingUpdate();

    // Held while reporting, so that the end of the file waits for this report; a delivery that
    // comes after that end has no file to report on.
    const juce::ScopedLock sl (reportLock);

    if (fileInHand)
        reportToListeners (progress);
}

void FileConverter::reportToListeners (double fraction)
{
    for (int i = listeners.size(); --i >= 0;)
    {
        auto value = fraction;
        listeners.getUnchecked (i)->progressChanged (value);
    }
}
