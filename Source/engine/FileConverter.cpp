#include "engine/FileConverter.h"

#include "engine/InputFormats.h"

#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace
{
    constexpr int blockSize = 16384;
    constexpr int outputBufferSize = 32768;
    constexpr juce::int64 maxBufferSamples = std::numeric_limits<int>::max();
    constexpr double firstBeyondAnInt = 2147483648.0;

    // The block writer below has no fixed channel limit, but the framework's own buffer writes
    // take no more than this, and no real file comes close.
    constexpr unsigned int maxChannels = 256;

    /** A file stream that remembers where a reader last moved it. The WAV and AIFF readers move
        to the start of the sample data when they read the first frame, which tells us where that
        data starts without parsing the header a second time. */
    class PositionTrackingStream : public juce::InputStream
    {
    public:
        explicit PositionTrackingStream (const juce::File& file) : stream (file) {}

        juce::int64 getLastPositionSet() const noexcept              { return lastPositionSet; }

        juce::int64 getTotalLength() override                        { return stream.getTotalLength(); }
        bool isExhausted() override                                   { return stream.isExhausted(); }
        int read (void* destination, int maxBytes) override           { return stream.read (destination, maxBytes); }
        juce::int64 getPosition() override                            { return stream.getPosition(); }

        bool setPosition (juce::int64 newPosition) override
        {
            lastPositionSet = newPosition;
            return stream.setPosition (newPosition);
        }

    private:
        juce::FileInputStream stream;
        juce::int64 lastPositionSet = -1;
    };

    /** WAV and AIFF readers take the frame count from the header, which a damaged file can
        overstate by gigabytes; cut it to the frames that the file really holds. */
    void limitToFramesHeld (juce::AudioFormatReader& reader, PositionTrackingStream& stream)
    {
        const auto bytesPerFrame = (juce::int64) reader.numChannels * reader.bitsPerSample / 8;

        if (reader.lengthInSamples == 0 || bytesPerFrame <= 0)
            return;

        int firstSample = 0;
        int* const destination[] = { &firstSample };
        reader.read (destination, 1, 0, 1, false);

        if (const auto dataStart = stream.getLastPositionSet(); dataStart >= 0)
        {
            const auto framesHeld = juce::jmax ((juce::int64) 0, (stream.getTotalLength() - dataStart) / bytesPerFrame);
            reader.lengthInSamples = juce::jmin (reader.lengthInSamples, framesHeld);
        }
    }

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
}

//==============================================================================
FileConverter::ProgressListener::~ProgressListener() {}

FileConverter::FileConverter (ProgressListener* listener)
{
    if (listener != nullptr)
        listeners.add (listener);
}

FileConverter::~FileConverter() {}

void FileConverter::convertFile (juce::File& input, juce::File& output, int targetRate, int bitDepth)
{
    progress = 0.0;

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

    auto stream = std::make_unique<PositionTrackingStream> (input);
    auto& trackedStream = *stream;

    juce::AudioFormatManager formats;
    registerInputFormats (formats);

    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (std::move (stream)));

    if (reader == nullptr || ! readerSuitsFile (*reader, input))
        throw InputFileInvalid();

    // The rate counts in whole hertz: it must truncate to at least 1 and fit an int.
    const auto sourceRate = reader->sampleRate;

    if (! (sourceRate >= 1.0 && sourceRate < firstBeyondAnInt)
        || reader->numChannels == 0 || reader->numChannels > maxChannels)
        throw InputFileInvalid();

    reader->lengthInSamples = juce::jmax ((juce::int64) 0, reader->lengthInSamples);
    const auto formatName = reader->getFormatName();

    if (formatName == juce::WavAudioFormat().getFormatName() || formatName == juce::AiffAudioFormat().getFormatName())
        limitToFramesHeld (*reader, trackedStream);

    const auto channels = (int) reader->numChannels;
    juce::AudioFormatReaderSource source (reader.release(), true);

    const auto buffer = convert (source, (int) sourceRate, targetRate, channels);

    if (abort)
        return;

    progress = 0.5;
    writeWave (buffer.get(), output, targetRate, channels, bitDepth);
}

std::unique_ptr<juce::AudioSampleBuffer> FileConverter::convert (juce::AudioFormatReaderSource& source, int sourceRate,
                                                                 int targetRate, int channels)
{
    abort = false;

    juce::ResamplingAudioSource resampler (&source, false, channels);
    resampler.prepareToPlay (blockSize, (double) sourceRate);

    // The ratio and the converted length are single-precision figures: above 2^24 samples the
    // length may differ from the exact product by a few samples.
    const auto length = source.getTotalLength();
    const auto ratio = (float) targetRate / (float) sourceRate;
    const auto singleLength = (float) length * ratio;

    if (singleLength >= (float) firstBeyondAnInt)
        throw NewSampleTooLarge();

    const auto convertedLength = (juce::int64) singleLength;

    resampler.setResamplingRatio ((double) sourceRate / targetRate);
    progress = 0.0;

    // Upsampling renders the converted length, in blocks of what 16384 source samples give;
    // downsampling and equal rates render the source length in blocks of 16384, cut to the
    // converted length at the end.
    const auto upsampling = targetRate > sourceRate;
    const auto fullBlocks = length / blockSize;
    const auto blockOutput = upsampling ? (juce::int64) (ratio * (float) blockSize) : (juce::int64) blockSize;
    const auto renderedLength = upsampling ? convertedLength : length;

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

    // Cut (or, at equal rates above 2^24 samples, pad with silence) to the converted length;
    // shrinking keeps the block in place rather than copying it.
    buffer->setSize (channels, (int) convertedLength, true, true, true);
    updateListeners();
    return buffer;
}

void FileConverter::writeWave (juce::AudioSampleBuffer* buffer, juce::File& output, const int& rate,
                               const int& channels, const int& bitDepth)
{
    if (output.exists())
    {
        output.setReadOnly (false, false);
        output.deleteFile();
    }

    std::unique_ptr<juce::FileOutputStream> stream (output.createOutputStream (outputBufferSize));
    juce::WavAudioFormat wav;

    if (stream == nullptr)
        throw FileWriteException();

    // A file that could not be removed is opened at its end: start it afresh instead.
    if (stream->getPosition() != 0 && ! (stream->setPosition (0) && stream->truncate().wasOk()))
        throw FileWriteException();

    IncompleteFile incomplete { output };
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

    if (output.getSize() != expectedSize)
        throw FileWriteException();

    incomplete.completed = true;
    progress = 1.0;
    updateListeners();
}

void FileConverter::updateListeners()
{
    for (int i = listeners.size(); --i >= 0;)
    {
        auto fraction = progress.load();
        listeners.getUnchecked (i)->progressChanged (fraction);
    }
}

void FileConverter::handleAsyncUpdate()
{
    cancelPendingUpdate();
    updateListeners();
}
