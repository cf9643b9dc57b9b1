#include "engine/Mpg123AudioFormat.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <vector>

#include <unistd.h>

using quillon::test::TemporaryFolder;
using quillon::test::encodeMp3;
using quillon::test::writeAudioFile;

namespace
{
    constexpr float level = 0.5f;

    // Where the test signal's sound begins, as a fraction of a second.
    constexpr double onsetSeconds = 0.1;

    using Reader = std::unique_ptr<juce::AudioFormatReader>;

    Reader openReader (std::unique_ptr<juce::InputStream> stream)
    {
        Mpg123AudioFormat format;
        return Reader (format.createReaderFor (stream.release(), true));
    }

    Reader openReader (const juce::File& file) { return openReader (std::make_unique<juce::FileInputStream> (file)); }
    Reader openReader (const juce::MemoryBlock& bytes)
    {
        return openReader (std::make_unique<juce::MemoryInputStream> (bytes.getData(), bytes.getSize(), true));
    }

    juce::AudioBuffer<float> readAll (juce::AudioFormatReader& reader)
    {
        juce::AudioBuffer<float> buffer ((int) reader.numChannels, (int) reader.lengthInSamples);
        EXPECT_TRUE (reader.read (&buffer, 0, buffer.getNumSamples(), 0, true, true));
        return buffer;
    }

    /** Silence, then from the onset on a sweep that starts at its peak, so the sound begins with a
        step; the second channel sweeps the other way. A sweep never repeats itself, so the offset at
        which a decoded copy matches it best is unambiguous. */
    juce::AudioBuffer<float> makeSignal (int channels, int length, double rate)
    {
        juce::AudioBuffer<float> buffer (channels, length);
        buffer.clear();
        const auto onset = (int) (onsetSeconds * rate);
        const auto duration = (double) (length - onset) / rate;

        for (int channel = 0; channel < channels; ++channel)
        {
            const auto from = channel == 0 ? 150.0 : 1200.0;
            const auto to = channel == 0 ? 1200.0 : 150.0;

            for (int i = onset; i < length; ++i)
            {
                const auto t = (double) (i - onset) / rate;
                const auto phase = juce::MathConstants<double>::twoPi * (from * t + (to - from) * t * t / (2.0 * duration));
                buffer.setSample (channel, i, level * (float) std::cos (phase));
            }
        }

        return buffer;
    }

    int firstSound (const juce::AudioBuffer<float>& buffer, int channel)
    {
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (std::abs (buffer.getSample (channel, i)) >= level / 2)
                return i;

        return -1;
    }

    /** The offset (decoded sample index minus source sample index) at which the decoded channel
        matches the source best. */
    int bestOffset (const juce::AudioBuffer<float>& source, const juce::AudioBuffer<float>& decoded, int channel, int maxOffset)
    {
        const auto* s = source.getReadPointer (channel);
        const auto* d = decoded.getReadPointer (channel);
        int best = 0;
        double bestSum = -1.0e300;

        for (int offset = -maxOffset; offset <= maxOffset; ++offset)
        {
            double sum = 0.0;

            for (int i = std::max (0, -offset); i < source.getNumSamples() && i + offset < decoded.getNumSamples(); ++i)
                sum += (double) s[i] * d[i + offset];

            if (sum > bestSum)
            {
                bestSum = sum;
                best = offset;
            }
        }

        return best;
    }

    /** Signal to noise ratio in decibels of the decoded channel against the source, sample for sample. */
    double snr (const juce::AudioBuffer<float>& source, const juce::AudioBuffer<float>& decoded, int channel)
    {
        double signal = 0.0, noise = 0.0;

        for (int i = 0; i < std::min (source.getNumSamples(), decoded.getNumSamples()); ++i)
        {
            const auto s = (double) source.getSample (channel, i);
            signal += s * s;
            noise += juce::square (s - decoded.getSample (channel, i));
        }

        return 10.0 * std::log10 (signal / std::max (noise, 1.0e-30));
    }

    // Two decodes of the same frames agree to the last bits of float rounding only: the decoder's
    // synthesis filter works through a ring buffer, and where in the ring a decode starts changes
    // the order of its sums. A sample out of place differs by far more.
    constexpr float sameSample = 1.0e-6f;

    /** The largest difference between the first samples of two channels. */
    float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int channel, int count)
    {
        float largest = 0.0f;

        for (int i = 0; i < count; ++i)
            largest = std::max (largest, std::abs (a.getSample (channel, i) - b.getSample (channel, i)));

        return largest;
    }

    /** An MP3 file of the test signal made by lame, with its source. */
    struct Encoded
    {
        juce::File file;
        juce::AudioBuffer<float> source;
    };

    Encoded encode (const TemporaryFolder& temp, const juce::String& name, double rate, int channels, double seconds,
                    const juce::StringArray& options)
    {
        Encoded result { temp.file (name + ".mp3"), makeSignal (channels, (int) (seconds * rate), rate) };
        const auto wav = temp.file (name + ".wav");
        EXPECT_TRUE (writeAudioFile (wav, result.source, rate, 16));
        EXPECT_TRUE (encodeMp3 (wav, result.file, options));
        return result;
    }

    juce::MemoryBlock bytesOf (const juce::File& file)
    {
        juce::MemoryBlock bytes;
        EXPECT_TRUE (file.loadFileAsData (bytes));
        return bytes;
    }
}

//==============================================================================
struct EncodingCase
{
    const char* name;
    int rate;
    int channels;
    std::vector<const char*> lameOptions;
};

void PrintTo (const EncodingCase& encoding, std::ostream* out) { *out << encoding.name; }

class Mp3Encodings : public testing::TestWithParam<EncodingCase> {};

TEST_P (Mp3Encodings, LengthOnsetAndSoundMatchTheSource)
{
    const auto& param = GetParam();
    TemporaryFolder temp;
    const auto encoded = encode (temp, param.name, param.rate, param.channels, 1.5,
                                 juce::StringArray (param.lameOptions.data(), (int) param.lameOptions.size()));

    const auto reader = openReader (encoded.file);
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->sampleRate, (double) param.rate);
    ASSERT_EQ (reader->numChannels, (unsigned int) param.channels);
    EXPECT_EQ (reader->getFormatName(), "MP3 file");

    const auto& source = encoded.source;
    EXPECT_NEAR ((double) reader->lengthInSamples, (double) source.getNumSamples(), 1.0);

    const auto decoded = readAll (*reader);

    for (int channel = 0; channel < param.channels; ++channel)
    {
        SCOPED_TRACE (channel);
        EXPECT_NEAR (firstSound (decoded, channel), firstSound (source, channel), 1);
        EXPECT_EQ (bestOffset (source, decoded, channel, 1200), 0);
        EXPECT_GT (snr (source, decoded, channel), 20.0);
    }
}

INSTANTIATE_TEST_SUITE_P (Table, Mp3Encodings, testing::Values (
    EncodingCase { "mpeg1_44k_stereo_cbr",   44100, 2, { "-b", "128" } },
    EncodingCase { "mpeg1_48k_mono_vbr",     48000, 1, { "-V", "2" } },
    EncodingCase { "mpeg1_32k_stereo_vbr",   32000, 2, { "-V", "4" } },
    EncodingCase { "mpeg2_24k_stereo_cbr",   24000, 2, { "-b", "64" } },
    EncodingCase { "mpeg2_22k_mono_vbr",     22050, 1, { "-V", "2" } },
    EncodingCase { "mpeg2_16k_mono_cbr",     16000, 1, { "-b", "64" } },
    EncodingCase { "mpeg25_11k_stereo_vbr",  11025, 2, { "-V", "4" } },
    EncodingCase { "mpeg25_8k_mono_cbr",      8000, 1, { "-b", "32" } }),
    [] (const testing::TestParamInfo<EncodingCase>& param) { return std::string (param.param.name); });

//==============================================================================
TEST (Mp3Format, NamesItsFilesAndWritesNothing)
{
    Mpg123AudioFormat format;
    EXPECT_EQ (format.getFormatName(), "MP3 file");
    EXPECT_EQ (format.getFileExtensions(), juce::StringArray (".mp3"));
    EXPECT_TRUE (format.canHandleFile (juce::File ("/samples/Kick.MP3")));
    EXPECT_FALSE (format.canHandleFile (juce::File ("/samples/Kick.wav")));

    juce::MemoryOutputStream stream;
    EXPECT_EQ (format.createWriterFor (&stream, 44100.0, 2, 16, {}, 0), nullptr);
}

// Any start and any count give what a read from the start gives there, and silence outside the
// file, whichever way the reads jump; also when the stream given to the format does not start at
// its first byte.
TEST (Mp3Reads, AnyPositionGivesWhatASequentialReadGives)
{
    TemporaryFolder temp;

    // At 8 kbit/s a frame's data can begin several frames back, which a jump must make up for.
    const std::vector<Encoded> files {
        encode (temp, "small-frames", 8000, 1, 3.0, { "-b", "8" }),
        encode (temp, "stereo-vbr", 44100, 2, 2.0, { "-V", "2" }) };

    for (const auto& encoded : files)
    {
        SCOPED_TRACE (encoded.file.getFileName());
        const auto reference = readAll (*openReader (encoded.file));
        ASSERT_GT (reference.getNumSamples(), 0);
        const auto length = reference.getNumSamples();

        juce::MemoryBlock shifted (777);
        shifted.append (bytesOf (encoded.file).getData(), bytesOf (encoded.file).getSize());
        auto offsetStream = std::make_unique<juce::MemoryInputStream> (shifted, true);
        ASSERT_TRUE (offsetStream->setPosition (777));

        Reader readers[] { openReader (encoded.file), openReader (std::move (offsetStream)) };

        for (auto& reader : readers)
        {
            ASSERT_NE (reader, nullptr);
            ASSERT_EQ (reader->lengthInSamples, length);
            const auto channels = (int) reader->numChannels;

            std::mt19937 random (7);
            std::uniform_int_distribution<int> start (-300, length + 300), count (1, 6000);

            for (int attempt = 0; attempt < 60; ++attempt)
            {
                const auto from = start (random);
                const auto n = count (random);
                juce::AudioBuffer<float> buffer (channels, n);

                for (int channel = 0; channel < channels; ++channel)
                    juce::FloatVectorOperations::fill (buffer.getWritePointer (channel), 9.0f, n);

                EXPECT_TRUE (reader->read (&buffer, 0, n, from, true, true));

                for (int channel = 0; channel < channels; ++channel)
                {
                    float largest = 0.0f;

                    for (int i = 0; i < n; ++i)
                    {
                        const auto at = from + i;
                        const auto expected = at >= 0 && at < length ? reference.getSample (channel, at) : 0.0f;
                        largest = std::max (largest, std::abs (buffer.getSample (channel, i) - expected));
                    }

                    EXPECT_LE (largest, sameSample) << "read of " << n << " from " << from << ", channel " << channel;
                }
            }
        }
    }
}

//==============================================================================
namespace
{
    juce::MemoryBlock randomBytes (size_t size, int seed)
    {
        juce::MemoryBlock bytes (size);
        juce::Random (seed).fillBitsRandomly (bytes.getData(), bytes.getSize());
        return bytes;
    }

    /** Runs of a few MPEG-1 layer III frame headers (44.1 kHz, 128 kbit/s, 417 bytes a frame) with
        random bodies, each run set apart from the next by a few random bytes: the frame-like
        patterns that other data can hold, not a stream. */
    juce::MemoryBlock scatteredFrames()
    {
        juce::MemoryOutputStream out;
        juce::Random random (11);

        for (int run = 0; run < 10; ++run)
        {
            for (int frame = 0; frame < 4; ++frame)
            {
                const std::uint8_t header[] { 0xff, 0xfb, 0x90, 0x44 };
                out.write (header, sizeof (header));
                out.write (randomBytes (413, random.nextInt()).getData(), 413);
            }

            out.write (randomBytes (10, random.nextInt()).getData(), 10);
        }

        return out.getMemoryBlock();
    }
}

TEST (Mp3Refusals, BytesThatAreNotAStreamOfFramesAreRefused)
{
    TemporaryFolder temp;
    const auto wav = temp.file ("tone.wav");
    ASSERT_TRUE (writeAudioFile (wav, makeSignal (2, 44100, 44100), 44100, 16));

    std::vector<std::pair<juce::String, juce::MemoryBlock>> inputs {
        { "nothing", {} },
        { "a WAV file", bytesOf (wav) },
        { "MPEG frame headers scattered through other bytes", scatteredFrames() } };

    for (int seed = 1; seed <= 20; ++seed)
        inputs.push_back ({ "16 KB of random bytes, seed " + juce::String (seed), randomBytes (16384, seed) });

    for (const auto& [name, bytes] : inputs)
    {
        SCOPED_TRACE (name);
        EXPECT_EQ (openReader (bytes), nullptr);
    }
}

namespace
{
    /** A stream that never gives a byte, without saying that it is exhausted, and cannot seek. */
    struct EmptyHandedStream : juce::InputStream
    {
        juce::int64 getTotalLength() override    { return -1; }
        bool isExhausted() override               { return false; }
        int read (void*, int) override            { ++reads; return 0; }
        juce::int64 getPosition() override        { return 0; }
        bool setPosition (juce::int64) override   { return false; }

        int reads = 0;
    };
}

TEST (Mp3Refusals, AStreamThatGivesNoDataIsRefusedAtOnce)
{
    EmptyHandedStream stream;
    Mpg123AudioFormat format;
    EXPECT_EQ (format.createReaderFor (&stream, false), nullptr);
    EXPECT_GT (stream.reads, 0);
}

//==============================================================================
// A file cut short gives the audio that is still there: no silent tail up to the length that its
// header announces, and every sample as in the whole file.
TEST (Mp3Damage, ATruncatedFileGivesWhatStillDecodes)
{
    TemporaryFolder temp;
    const auto encoded = encode (temp, "whole", 44100, 2, 3.0, { "-b", "128" });
    const auto whole = readAll (*openReader (encoded.file));

    const auto bytes = bytesOf (encoded.file);
    const auto keptBytes = bytes.getSize() * 11 / 20 + 100; // inside a frame
    const auto reader = openReader (juce::MemoryBlock (bytes.getData(), keptBytes));
    ASSERT_NE (reader, nullptr);

    // 128 kbit/s: 417.96 bytes a frame of 1152 samples, less the first (Info) frame and the delay.
    const auto framesKept = (double) keptBytes / (144.0 * 128000.0 / 44100.0) - 1.0;
    EXPECT_NEAR ((double) reader->lengthInSamples, framesKept * 1152.0 - 1105.0, 1152.0);
    EXPECT_LT (reader->lengthInSamples, whole.getNumSamples() - 44100);

    const auto cut = readAll (*reader);

    for (int channel = 0; channel < 2; ++channel)
    {
        SCOPED_TRACE (channel);
        EXPECT_LE (maxDifference (cut, whole, channel, cut.getNumSamples()), sameSample);
        EXPECT_GT (cut.getMagnitude (channel, cut.getNumSamples() - 500, 500), level / 2);
    }
}

// The frame count of the Info header is only a claim: a count that overstates or understates the
// stream changes neither where the sound starts nor how much of it there is. (Where an understated
// count says the stream ends, the encoder's padding is dropped, as for files joined end to end.)
TEST (Mp3Damage, AWrongFrameCountInTheInfoHeaderIsNotBelieved)
{
    TemporaryFolder temp;
    const auto encoded = encode (temp, "whole", 44100, 1, 3.0, { "-b", "128" });
    const auto whole = readAll (*openReader (encoded.file));
    ASSERT_EQ (whole.getNumSamples(), encoded.source.getNumSamples());

    const auto bytes = bytesOf (encoded.file);
    const auto* const begin = (const char*) bytes.getData();
    const char info[] = "Info";
    const auto tag = (size_t) (std::search (begin, begin + 200, info, info + 4) - begin);
    ASSERT_LT (tag, 200u);

    const auto* const countField = (const std::uint8_t*) begin + tag + 8;
    const auto frames = (std::uint32_t) countField[0] << 24 | (std::uint32_t) countField[1] << 16
                      | (std::uint32_t) countField[2] << 8 | (std::uint32_t) countField[3];
    ASSERT_GT (frames, 100u);

    for (const auto claimed : { frames * 2, frames / 2 })
    {
        SCOPED_TRACE (claimed);
        auto patched = bytes;

        for (int i = 0; i < 4; ++i)
            patched[tag + 8 + (size_t) i] = (char) (claimed >> (24 - 8 * i));

        const auto reader = openReader (patched);
        ASSERT_NE (reader, nullptr);
        EXPECT_NEAR ((double) reader->lengthInSamples, (double) whole.getNumSamples(), 1152.0);

        const auto decoded = readAll (*reader);
        const auto announced = (int) std::min (claimed, frames) * 1152 - 1105 - 1152;
        EXPECT_LE (maxDifference (decoded, whole, 0, std::min (announced, decoded.getNumSamples())), sameSample);
        EXPECT_GT (decoded.getMagnitude (0, decoded.getNumSamples() - 500, 500), level / 2);
    }
}

// Two files joined end to end, mono then stereo: the output has one channel count, so the stream
// ends where the second file begins, rather than the second file's frames being mixed down.
TEST (Mp3Damage, AStreamEndsWhereItsKindChanges)
{
    TemporaryFolder temp;
    const auto mono = encode (temp, "mono", 44100, 1, 2.0, { "-b", "128" });
    const auto stereo = encode (temp, "stereo", 44100, 2, 2.0, { "-b", "128" });
    const auto first = readAll (*openReader (mono.file));

    auto joined = bytesOf (mono.file);
    joined.append (bytesOf (stereo.file).getData(), bytesOf (stereo.file).getSize());

    const auto reader = openReader (joined);
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->numChannels, 1u);
    EXPECT_EQ (reader->lengthInSamples, first.getNumSamples());

    EXPECT_LE (maxDifference (readAll (*reader), first, 0, first.getNumSamples()), sameSample);
}

//==============================================================================
namespace
{
    /** Sends what the process writes to stdout and stderr to a file while it lives. */
    class CapturedOutput
    {
    public:
        explicit CapturedOutput (const juce::File& file)
            : capture (std::fopen (file.getFullPathName().toRawUTF8(), "w"))
        {
            std::fflush (stdout);
            std::fflush (stderr);
            ::dup2 (::fileno (capture), STDOUT_FILENO);
            ::dup2 (::fileno (capture), STDERR_FILENO);
        }

        ~CapturedOutput()
        {
            std::fflush (stdout);
            std::fflush (stderr);
            ::dup2 (savedOut, STDOUT_FILENO);
            ::dup2 (savedError, STDERR_FILENO);
            ::close (savedOut);
            ::close (savedError);
            std::fclose (capture);
        }

    private:
        const int savedOut = ::dup (STDOUT_FILENO);
        const int savedError = ::dup (STDERR_FILENO);
        std::FILE* const capture;
    };
}

// A file damaged in its middle still decodes around the damage, and the decoder prints nothing.
TEST (Mp3Damage, JunkInTheMiddleIsSkippedSilently)
{
    TemporaryFolder temp;
    const auto encoded = encode (temp, "whole", 44100, 2, 2.0, { "-b", "128" });
    const auto bytes = bytesOf (encoded.file);

    auto damaged = juce::MemoryBlock (bytes.getData(), 20000);
    damaged.append (randomBytes (300, 5).getData(), 300);
    damaged.append ((const char*) bytes.getData() + 20000, bytes.getSize() - 20000);

    const auto log = temp.file ("output.txt");
    juce::int64 length = 0;

    {
        const CapturedOutput captured (log);

        if (const auto reader = openReader (damaged))
        {
            length = reader->lengthInSamples;
            readAll (*reader);
        }
    }

    EXPECT_EQ (log.loadFileAsString(), "");
    EXPECT_NEAR ((double) length, (double) encoded.source.getNumSamples(), 2.0 * 1152.0);
}
