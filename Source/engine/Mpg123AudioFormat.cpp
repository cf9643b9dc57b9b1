#include "engine/Mpg123AudioFormat.h"

#include <mpg123.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

namespace
{
    const char* const mp3FormatName = "MP3 file";

    // A stream counts as MPEG audio once this many frames at its start (or every frame of a
    // shorter one) follow one another without a gap and agree on their kind. Stray bit patterns
    // in other data can pass for a few frames in a row, hardly ever for this many.
    constexpr int framesToConfirm = 8;

    // Sample frames decoded per call while reading.
    constexpr int samplesPerDecode = 4096;

    // Frames that the decoder decodes before the target of a jump: at the lowest bit rates a
    // frame's data can begin this many frames back (the bit reservoir), and the filters need two
    // more to settle. The library's own default of 4 is too few for them.
    constexpr long framesBeforeJump = 16;

    struct HandleDeleter
    {
        void operator() (mpg123_handle* handle) const noexcept { mpg123_delete (handle); }
    };

    using Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

    /** True when two frames may belong to one stream: the same version, layer, rate and channel
        count. Our output has one rate and one channel count, so the stream ends where they change. */
    bool sameStream (const mpg123_frameinfo2& a, const mpg123_frameinfo2& b)
    {
        const auto isMono = [] (const mpg123_frameinfo2& info) { return info.mode == MPG123_M_MONO; };

        return a.version == b.version && a.layer == b.layer && a.rate == b.rate && isMono (a) == isMono (b);
    }

    /** True when two frames also agree on what an encoder keeps for a whole stream: dual channel or
        not, emphasis, checksum, copyright and original flags. */
    bool sameEncoding (const mpg123_frameinfo2& a, const mpg123_frameinfo2& b)
    {
        constexpr int fixedFlags = MPG123_CRC | MPG123_COPYRIGHT | MPG123_ORIGINAL;
        const auto isDual = [] (const mpg123_frameinfo2& info) { return info.mode == MPG123_M_DUAL; };

        return sameStream (a, b) && isDual (a) == isDual (b) && a.emphasis == b.emphasis
            && (a.flags & fixedFlags) == (b.flags & fixedFlags);
    }

    //==============================================================================
    class Mpg123Reader final : public juce::AudioFormatReader
    {
    public:
        explicit Mpg123Reader (juce::InputStream* stream)
            : juce::AudioFormatReader (stream, mp3FormatName),
              origin (stream->getPosition())
        {
            opened = open() && measure();
        }

        bool isOpen() const noexcept { return opened; }

        bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                          juce::int64 startSampleInFile, int numSamples) override
        {
            clearSamplesBeyondAvailableLength (destChannels, numDestChannels, startOffsetInDestBuffer,
                                               startSampleInFile, numSamples, lengthInSamples);

            if (numSamples <= 0)
                return true;

            if (startSampleInFile != nextSample && ! seek (startSampleInFile))
            {
                clear (destChannels, numDestChannels, startOffsetInDestBuffer, numSamples);
                return false;
            }

            const auto done = decode (destChannels, numDestChannels, startOffsetInDestBuffer, numSamples);

            // The stream gave out before the length that it decoded to at first (a file cut short
            // while it was open, say).
            if (done < numSamples)
            {
                clear (destChannels, numDestChannels, startOffsetInDestBuffer + done, numSamples - done);
                return false;
            }

            return true;
        }

    private:
        /** Opens the decoder on the stream and learns the rate and channel count of its first frame. */
        bool open()
        {
            handle.reset (mpg123_new (nullptr, nullptr));

            if (handle == nullptr)
                return false;

            auto* const h = handle.get();

            // Quiet: the library must print nothing. Gapless: cut the encoder's delay and padding.
            if (mpg123_param (h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_SKIP_ID3V2, 0.0) != MPG123_OK
                || mpg123_param (h, MPG123_PREFRAMES, framesBeforeJump, 0.0) != MPG123_OK
                || mpg123_format_none (h) != MPG123_OK)
                return false;

            const long* rates = nullptr;
            size_t numRates = 0;
            mpg123_rates (&rates, &numRates);

            for (size_t i = 0; i < numRates; ++i)
                if (mpg123_format (h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32) != MPG123_OK)
                    return false;

            long rate = 0;
            int channels = 0, encoding = 0;

            if (mpg123_replace_reader_handle (h, readStream, seekStream, nullptr) != MPG123_OK
                || mpg123_open_handle (h, this) != MPG123_OK
                || mpg123_getformat (h, &rate, &channels, &encoding) != MPG123_OK
                || rate <= 0 || (channels != 1 && channels != 2) || encoding != MPG123_ENC_FLOAT_32)
                return false;

            // From here on the output keeps this one format.
            if (mpg123_format_none (h) != MPG123_OK || mpg123_format (h, rate, channels, encoding) != MPG123_OK)
                return false;

            sampleRate = (double) rate;
            numChannels = (unsigned int) channels;
            bitsPerSample = 32;
            usesFloatingPointData = true;
            decoded.resize ((size_t) (samplesPerDecode * channels));
            return true;
        }

        /** Decodes the whole stream once: confirms that it starts with a run of consistent frames,
            counts the samples that it gives, then goes back to its start. A frame count in the
            Info header can overstate or understate a damaged or joined file; this count is what
            the reads will really give. */
        bool measure()
        {
            auto* const h = handle.get();
            mpg123_frameinfo2 first {};
            off_t expectedPosition = 0;
            int confirmed = 0;
            juce::int64 length = 0;

            for (;;)
            {
                off_t frameNumber = 0;
                unsigned char* audio = nullptr;
                size_t bytes = 0;
                const auto result = mpg123_decode_frame (h, &frameNumber, &audio, &bytes);

                if (result == MPG123_NEW_FORMAT)
                    continue;

                // The end of the stream, or the end of what can be decoded of it.
                if (result != MPG123_OK)
                    break;

                mpg123_frameinfo2 info {};

                if (mpg123_info2 (h, &info) != MPG123_OK)
                    return false;

                if (confirmed < framesToConfirm)
                {
                    const auto position = mpg123_framepos (h);

                    if (confirmed == 0)
                        first = info;
                    else if (position != expectedPosition || ! sameEncoding (first, info))
                        return false;

                    expectedPosition = position + info.framesize;
                    ++confirmed;
                }
                else if (! sameStream (first, info))
                {
                    break;
                }

                length += (juce::int64) (bytes / (sizeof (float) * numChannels));
            }

            lengthInSamples = length;
            return confirmed > 0 && mpg123_seek (h, 0, SEEK_SET) == 0;
        }

        /** Decodes the next samples into the channels given; returns how many the stream gave,
            fewer than asked only at its end. */
        int decode (int* const* destChannels, int numDestChannels, int startOffset, int numSamples)
        {
            const auto channels = (int) numChannels;
            const auto outputChannels = std::min (numDestChannels, channels);
            int total = 0;

            while (total < numSamples)
            {
                size_t bytesDone = 0;
                const auto wanted = std::min (numSamples - total, samplesPerDecode);
                const auto result = mpg123_read (handle.get(), decoded.data(), (size_t) (wanted * channels) * sizeof (float),
                                                 &bytesDone);
                const auto done = (int) (bytesDone / (sizeof (float) * (size_t) channels));

                for (int channel = 0; channel < outputChannels; ++channel)
                {
                    if (destChannels[channel] == nullptr)
                        continue;

                    auto* const destination = reinterpret_cast<float*> (destChannels[channel]) + startOffset + total;

                    for (int i = 0; i < done; ++i)
                        destination[i] = decoded[(size_t) (i * channels + channel)];
                }

                total += done;
                nextSample += done;

                if (done == 0 && result != MPG123_NEW_FORMAT)
                    break;
            }

            return total;
        }

        bool seek (juce::int64 sample)
        {
            if (mpg123_seek (handle.get(), (off_t) sample, SEEK_SET) != (off_t) sample)
                return false;

            nextSample = sample;
            return true;
        }

        static void clear (int* const* destChannels, int numDestChannels, int startOffset, int numSamples)
        {
            for (int channel = 0; channel < numDestChannels; ++channel)
                if (destChannels[channel] != nullptr)
                    std::fill_n (destChannels[channel] + startOffset, numSamples, 0);
        }

        // The decoder reads through the stream that the reader was given; positions count from
        // where the stream stood when the reader was made. A read of nothing is the end.
        static mpg123_ssize_t readStream (void* reader, void* buffer, size_t bytes)
        {
            auto& stream = *static_cast<Mpg123Reader*> (reader)->input;
            const auto wanted = (int) std::min (bytes, (size_t) std::numeric_limits<int>::max());
            return std::max (0, stream.read (buffer, wanted));
        }

        static off_t seekStream (void* reader, off_t offset, int whence)
        {
            const auto& self = *static_cast<Mpg123Reader*> (reader);
            auto& stream = *self.input;
            juce::int64 base = 0;

            if (whence == SEEK_CUR)
            {
                base = stream.getPosition() - self.origin;
            }
            else if (whence == SEEK_END)
            {
                const auto total = stream.getTotalLength();

                if (total < 0)
                    return -1;

                base = total - self.origin;
            }
            else if (whence != SEEK_SET)
            {
                return -1;
            }

            const auto target = base + offset;

            if (target < 0 || ! stream.setPosition (self.origin + target))
                return -1;

            return (off_t) (stream.getPosition() - self.origin);
        }

        const juce::int64 origin;
        Handle handle;
        std::vector<float> decoded;
        juce::int64 nextSample = 0;
        bool opened = false;
    };
}

//==============================================================================
Mpg123AudioFormat::Mpg123AudioFormat() : juce::AudioFormat (mp3FormatName, ".mp3") {}

Mpg123AudioFormat::~Mpg123AudioFormat() {}

juce::Array<int> Mpg123AudioFormat::getPossibleSampleRates()
{
    return { 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 };
}

juce::Array<int> Mpg123AudioFormat::getPossibleBitDepths()  { return {}; }
bool Mpg123AudioFormat::canDoStereo()                        { return true; }
bool Mpg123AudioFormat::canDoMono()                          { return true; }
bool Mpg123AudioFormat::isCompressed()                       { return true; }

juce::AudioFormatReader* Mpg123AudioFormat::createReaderFor (juce::InputStream* sourceStream,
                                                             bool deleteStreamIfOpeningFails)
{
    if (sourceStream == nullptr)
        return nullptr;

    auto reader = std::make_unique<Mpg123Reader> (sourceStream);

    if (reader->isOpen())
        return reader.release();

    if (! deleteStreamIfOpeningFails)
        reader->input = nullptr;

    return nullptr;
}

juce::AudioFormatWriter* Mpg123AudioFormat::createWriterFor (juce::OutputStream*, double, unsigned int, int,
                                                             const juce::StringPairArray&, int)
{
    return nullptr;
}
