#include "engine/FileConverter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using quillon::test::TemporaryFolder;
using quillon::test::encodeMp3;
using quillon::test::makeSine;
using quillon::test::pumpFor;
using quillon::test::pumpUntil;
using quillon::test::writeAudioFile;
using quillon::test::writeSparseWave;

namespace
{
    constexpr int blockSize = 16384;

    //==============================================================================
    // The written file, read straight from its bytes.
    struct Wave
    {
        bool isRiffWave = false;
        juce::int64 fileSize = 0, riffSize = 0;
        std::vector<std::string> chunks;
        int format = 0, channels = 0, rate = 0, byteRate = 0, blockAlign = 0, bits = 0;
        juce::int64 dataBytes = 0;
        std::vector<std::int16_t> samples; // interleaved

        juce::int64 frames() const { return blockAlign > 0 ? dataBytes / blockAlign : 0; }
        std::int16_t sample (juce::int64 frame, int channel) const { return samples[(size_t) (frame * channels + channel)]; }

        std::vector<float> channel (int c) const
        {
            std::vector<float> result;
            for (juce::int64 i = 0; i < frames(); ++i)
                result.push_back ((float) sample (i, c) / 32768.0f);
            return result;
        }
    };

    std::uint32_t readLE (const juce::MemoryBlock& bytes, size_t at, int numBytes)
    {
        std::uint32_t value = 0;
        for (int i = numBytes; --i >= 0;)
            value = (value << 8) | (std::uint8_t) bytes[at + (size_t) i];
        return value;
    }

    Wave parseWave (const juce::File& file)
    {
        Wave wave;
        juce::MemoryBlock bytes;

        if (! file.loadFileAsData (bytes) || bytes.getSize() < 12)
            return wave;

        wave.fileSize = (juce::int64) bytes.getSize();
        wave.isRiffWave = std::string ((const char*) bytes.getData(), 4) == "RIFF"
                       && std::string ((const char*) bytes.getData() + 8, 4) == "WAVE";
        wave.riffSize = readLE (bytes, 4, 4);

        for (size_t pos = 12; pos + 8 <= bytes.getSize();)
        {
            const std::string id ((const char*) bytes.getData() + pos, 4);
            const auto length = (size_t) readLE (bytes, pos + 4, 4);
            const auto body = pos + 8;
            wave.chunks.push_back (id);

            if (id == "fmt ")
            {
                wave.format     = (int) readLE (bytes, body, 2);
                wave.channels   = (int) readLE (bytes, body + 2, 2);
                wave.rate       = (int) readLE (bytes, body + 4, 4);
                wave.byteRate   = (int) readLE (bytes, body + 8, 4);
                wave.blockAlign = (int) readLE (bytes, body + 12, 2);
                wave.bits       = (int) readLE (bytes, body + 14, 2);
            }
            else if (id == "data")
            {
                wave.dataBytes = (juce::int64) juce::jmin (length, bytes.getSize() - body);

                for (size_t i = 0; i + 1 < (size_t) wave.dataBytes; i += 2)
                    wave.samples.push_back ((std::int16_t) readLE (bytes, body + i, 2));
            }

            pos = body + length + (length & 1);
        }

        return wave;
    }

    void expectStandardWave (const Wave& wave, int channels, juce::int64 frames)
    {
        EXPECT_TRUE (wave.isRiffWave);
        EXPECT_EQ (wave.riffSize, wave.fileSize - 8);
        EXPECT_EQ (wave.format, 1) << "PCM";
        EXPECT_EQ (wave.channels, channels);
        EXPECT_EQ (wave.rate, 44100);
        EXPECT_EQ (wave.bits, 16);
        EXPECT_EQ (wave.blockAlign, 2 * channels);
        EXPECT_EQ (wave.byteRate, 44100 * 2 * channels);
        EXPECT_EQ (wave.frames(), frames);
        EXPECT_EQ (wave.dataBytes, frames * 2 * channels);

        for (const auto& chunk : wave.chunks)
            EXPECT_TRUE (chunk == "fmt " || chunk == "data" || chunk == "JUNK") << "unexpected chunk " << chunk;
    }

    //==============================================================================
    // Fixtures written byte by byte, so that they hold exactly the values a test needs.
    juce::MemoryBlock waveBytes (int channels, int rate, const std::vector<std::int16_t>& interleaved)
    {
        juce::MemoryOutputStream out;
        const auto dataBytes = (int) interleaved.size() * 2;
        out.write ("RIFF", 4);
        out.writeInt (36 + dataBytes);
        out.write ("WAVEfmt ", 8);
        out.writeInt (16);
        out.writeShort (1);
        out.writeShort ((short) channels);
        out.writeInt (rate);
        out.writeInt (rate * channels * 2);
        out.writeShort ((short) (channels * 2));
        out.writeShort (16);
        out.write ("data", 4);
        out.writeInt (dataBytes);

        for (auto sample : interleaved)
            out.writeShort (sample);

        return out.getMemoryBlock();
    }

    // A WAV file of 8-bit samples whose data chunk holds the given number of bytes, all of them
    // silence that takes no room on the disk.
    void patch (juce::MemoryBlock& bytes, size_t at, std::uint32_t value, int numBytes, bool bigEndian = false)
    {
        for (int i = 0; i < numBytes; ++i)
        {
            const auto shift = 8 * (bigEndian ? numBytes - 1 - i : i);
            bytes[at + (size_t) i] = (char) ((value >> shift) & 0xff);
        }
    }

    size_t find (const juce::MemoryBlock& bytes, const char* tag)
    {
        const std::string data ((const char*) bytes.getData(), bytes.getSize());
        const auto at = data.find (tag);
        EXPECT_NE (at, std::string::npos) << tag;
        return at;
    }

    std::vector<std::int16_t> noise (size_t count, unsigned seed)
    {
        std::mt19937 random (seed);
        std::uniform_int_distribution<int> value (-32768, 32767);
        std::vector<std::int16_t> samples;

        for (size_t i = 0; i < count; ++i)
            samples.push_back ((std::int16_t) value (random));

        // The extremes and the value that a float write through the framework turns into 23251.
        samples[0] = 32767;
        samples[1] = -32768;
        samples[2] = 23252;
        return samples;
    }

    juce::AudioBuffer<float> silence (int channels, int frames)
    {
        juce::AudioBuffer<float> buffer (channels, frames);
        buffer.clear();
        return buffer;
    }

    //==============================================================================
    struct Report
    {
        double fraction;
        bool onMessageThread;
    };

    class RecordingListener : public FileConverter::ProgressListener
    {
    public:
        void progressChanged (double& fraction) override
        {
            const Report report { fraction, juce::MessageManager::getInstance()->isThisTheMessageThread() };

            {
                const std::lock_guard<std::mutex> hold (lock);
                reports.push_back (report);
            }

            if (onReport)
                onReport (report);
        }

        std::vector<Report> get() const
        {
            const std::lock_guard<std::mutex> hold (lock);
            return reports;
        }

        std::vector<double> fractions (bool onMessageThread) const
        {
            std::vector<double> result;
            for (const auto& report : get())
                if (report.onMessageThread == onMessageThread)
                    result.push_back (report.fraction);
            return result;
        }

        std::function<void (const Report&)> onReport;

    private:
        mutable std::mutex lock;
        std::vector<Report> reports;
    };

    // "returned", or the exception's class and text.
    using Outcome = std::string;

    Outcome convert (FileConverter& converter, juce::File input, juce::File output)
    {
        try
        {
            converter.convertFile (input, output, 44100, 16);
            return "returned";
        }
        catch (const InputFileInvalid& e)    { return std::string ("InputFileInvalid: ") + e.what(); }
        catch (const NewSampleTooLarge& e)   { return std::string ("NewSampleTooLarge: ") + e.what(); }
        catch (const FileWriteException& e)  { return std::string ("FileWriteException: ") + e.what(); }
        catch (const std::exception& e)      { return std::string ("other: ") + e.what(); }
    }

    // Converts on a worker thread, as the controller does, while this (the message) thread
    // delivers the reports made while writing. Nothing may stay pending once it has returned.
    Outcome convertOnWorker (FileConverter& converter, const juce::File& input, const juce::File& output)
    {
        std::atomic<bool> done { false };
        Outcome outcome;

        std::thread worker ([&]
        {
            outcome = convert (converter, input, output);
            done = true;
        });

        const auto finished = pumpUntil ([&] { return done.load(); }, 120000);
        worker.join();
        EXPECT_TRUE (finished);
        EXPECT_FALSE (converter.isUpdatePending()) << "a report outlives its file";
        return outcome;
    }

    // Holds the end of writing (the report of 1 on the worker) until the message thread has
    // delivered a report of the writing, so that one surely comes while the file is in hand.
    void awaitADeliveryBeforeTheEnd (RecordingListener& listener)
    {
        listener.onReport = [&listener] (const Report& report)
        {
            if (! report.onMessageThread && report.fraction == 1.0)
            {
                const auto deadline = juce::Time::getMillisecondCounter() + 10000;

                while (listener.fractions (true).empty() && juce::Time::getMillisecondCounter() < deadline)
                    std::this_thread::sleep_for (std::chrono::milliseconds (1));
            }
        };
    }

    //==============================================================================
    // A least-squares fit of a sine of known frequency, and the frequency from zero crossings.
    struct SineMeasure
    {
        double amplitude = 0, frequency = 0, maxResidual = 0;
    };

    SineMeasure measureSine (const std::vector<float>& x, double rate, double frequency, size_t skip)
    {
        SineMeasure result;
        const auto w = juce::MathConstants<double>::twoPi * frequency / rate;
        const auto end = x.size() - juce::jmin (x.size(), skip);
        double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;

        for (size_t i = skip; i < end; ++i)
        {
            const auto s = std::sin (w * (double) i), c = std::cos (w * (double) i);
            ss += s * s; sc += s * c; cc += c * c; xs += x[i] * s; xc += x[i] * c;
        }

        const auto det = ss * cc - sc * sc;
        const auto a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
        result.amplitude = std::hypot (a, b);

        double first = -1, last = -1;
        int crossings = 0;

        for (size_t i = skip; i + 1 < end; ++i)
        {
            result.maxResidual = juce::jmax (result.maxResidual,
                                             std::abs (x[i] - (a * std::sin (w * (double) i) + b * std::cos (w * (double) i))));

            if (x[i] < 0 && x[i + 1] >= 0)
            {
                const auto at = (double) i + x[i] / (x[i] - x[i + 1]);
                if (first < 0) first = at;
                last = at;
                ++crossings;
            }
        }

        if (crossings > 1)
            result.frequency = (crossings - 1) * rate / (last - first);

        return result;
    }
}

//==============================================================================
TEST (FileConverterTexts, ExceptionsCarryTheirFixedTexts)
{
    EXPECT_STREQ (InputFileInvalid().what(), "Invalid input file");
    EXPECT_STREQ (NewSampleTooLarge().what(), "Converted sample size too large");
    EXPECT_STREQ (FileWriteException().what(), "Error writing file");
}

//==============================================================================
struct WorkedCase
{
    int frames;
    int rate;
    int channels;
    juce::int64 convertedLength;  // N
    int blockOutput;              // B: output samples per full block
    int fullBlocks;               // k
};

class FileConverterWorkedCases : public testing::TestWithParam<WorkedCase> {};

TEST_P (FileConverterWorkedCases, LengthFractionsAndThreads)
{
    const auto& c = GetParam();
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (c.channels, c.frames, c.rate, 441.0), c.rate));

    RecordingListener listener;
    const auto writtenBlocks = (int) (c.convertedLength / blockSize);

    if (writtenBlocks > 0)
        awaitADeliveryBeforeTheEnd (listener);

    FileConverter converter (&listener);
    EXPECT_EQ (convertOnWorker (converter, input, output), "returned");

    expectStandardWave (parseWave (output), c.channels, c.convertedLength);

    // Resampling: after each full block its start over the length rendered, then the last once more.
    const auto upsampling = c.rate < 44100;
    const auto rendered = upsampling ? (double) c.convertedLength : (double) c.frames;
    std::vector<double> expected;

    for (int b = 0; b < c.fullBlocks; ++b)
        expected.push_back ((double) b * c.blockOutput / rendered * 0.5);

    expected.push_back (expected.empty() ? 0.0 : expected.back());
    expected.push_back (1.0);

    const auto onWorker = listener.fractions (false);
    ASSERT_EQ (onWorker.size(), expected.size());

    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_DOUBLE_EQ (onWorker[i], expected[i]) << "report " << i;

    for (size_t i = 0; i + 1 < onWorker.size(); ++i)
        EXPECT_LT (onWorker[i], 0.5);

    // Writing: through the message thread, while the file is written, each the fraction of a
    // written block (or the final 1, when a delivery meets the end of writing).
    std::set<double> writingFractions { 1.0 };

    for (int b = 0; b < writtenBlocks; ++b)
        writingFractions.insert ((double) (b * blockSize) / (double) c.convertedLength * 0.5 + 0.5);

    const auto onMessageThread = listener.fractions (true);
    EXPECT_LE (onMessageThread.size(), (size_t) writtenBlocks);
    EXPECT_EQ (onMessageThread.empty(), writtenBlocks == 0);

    for (auto fraction : onMessageThread)
        EXPECT_EQ (writingFractions.count (fraction), 1u) << fraction;

    // None comes after the end of writing.
    ASSERT_FALSE (listener.get().empty());
    EXPECT_EQ (listener.get().back().fraction, 1.0);
}

INSTANTIATE_TEST_SUITE_P (Table, FileConverterWorkedCases, testing::Values (
    WorkedCase { 20000,  22050, 1, 40000,  32768, 1 },
    WorkedCase { 100000, 32000, 2, 137812, 22579, 6 },
    WorkedCase { 100000, 44100, 1, 100000, 16384, 6 },
    WorkedCase { 100000, 88200, 2, 50000,  16384, 6 },
    WorkedCase { 3 * blockSize, 22050, 1, 6 * blockSize, 32768, 3 },
    WorkedCase { 100000, 96000, 1, 45937,  16384, 6 },
    WorkedCase { 1,      48000, 1, 1,      16384, 0 }, // the single sample is not lost
    WorkedCase { 0,      44100, 2, 0,      16384, 0 }),
    [] (const testing::TestParamInfo<WorkedCase>& param)
    {
        return std::to_string (param.param.frames) + "at" + std::to_string (param.param.rate);
    });

TEST (FileConverterWorkedCases, TheTwentyThousandSampleCaseWritesHalfThenTheSecondBlock)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 20000, 22050, 441.0), 22050));

    RecordingListener listener;
    awaitADeliveryBeforeTheEnd (listener);
    FileConverter converter (&listener);
    ASSERT_EQ (convertOnWorker (converter, input, output), "returned");

    const auto onMessageThread = listener.fractions (true);
    ASSERT_FALSE (onMessageThread.empty());

    for (auto fraction : onMessageThread)
        EXPECT_TRUE (fraction == 0.5 || std::abs (fraction - 0.7048) < 1e-12 || fraction == 1.0) << fraction;
}

// The rate counts in whole hertz, truncated: an AIFF file (whose rate is an 80-bit float) at
// 22050.9 Hz converts as 22050 Hz, exactly doubling its length; rounded to 22051 Hz it would not.
// (The framework's AIFF reader already truncates; the other readers know whole rates only.)
TEST (FileConverterWorkedCases, AFractionalSourceRateIsTruncated)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.aiff"), output = temp.file ("out.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 20000, 22050, 441.0), 22050));

    juce::MemoryBlock bytes;
    ASSERT_TRUE (input.loadFileAsData (bytes));

    const double rate = 22050.9;
    const auto exponent = (int) std::floor (std::log2 (rate));
    const auto mantissa = (std::uint64_t) std::ldexp (rate, 63 - exponent);
    const auto rateField = find (bytes, "COMM") + 16;
    patch (bytes, rateField, (std::uint32_t) (16383 + exponent), 2, true);
    patch (bytes, rateField + 2, (std::uint32_t) (mantissa >> 32), 4, true);
    patch (bytes, rateField + 6, (std::uint32_t) (mantissa & 0xffffffffu), 4, true);
    ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

    RecordingListener listener;
    FileConverter converter (&listener);
    ASSERT_EQ (convert (converter, input, output), "returned");
    expectStandardWave (parseWave (output), 1, 40000);
}

//==============================================================================
TEST (FileConverterContent, SixteenBitAtTheTargetRateComesOutSampleForSample)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    const auto samples = noise (2 * 100000, 1);
    ASSERT_TRUE (input.replaceWithData (waveBytes (2, 44100, samples).getData(), samples.size() * 2 + 44));

    FileConverter converter (nullptr);
    ASSERT_EQ (convert (converter, input, output), "returned");

    const auto wave = parseWave (output);
    expectStandardWave (wave, 2, 100000);
    ASSERT_EQ (wave.samples.size(), samples.size());

    for (size_t i = 0; i < samples.size(); ++i)
        if (wave.samples[i] != samples[i])
            FAIL() << "frame " << i / 2 << " channel " << i % 2 << ": " << wave.samples[i] << " instead of " << samples[i];
}

struct SineCase
{
    int rate;
    int frames;
};

class FileConverterSine : public testing::TestWithParam<SineCase> {};

// Measured with JUCE 7.0.5's resampler on a 1 kHz sine at half level: the level comes out
// between 0.4975 (the filter's droop at 22050 Hz) and 0.5, the frequency within 0.00001 Hz, and
// no sample lies further than 0.0009 from the fitted sine. The tolerances below are 0.004,
// 0.001 Hz and 0.002; a resampler prepared again for the last block puts a step of 0.15 there.
TEST_P (FileConverterSine, KeepsFrequencyAndLevel)
{
    const auto& c = GetParam();
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, c.frames, c.rate, 1000.0, 0.5f), c.rate, 24));

    FileConverter converter (nullptr);
    ASSERT_EQ (convert (converter, input, output), "returned");

    const auto wave = parseWave (output);
    expectStandardWave (wave, 1, (juce::int64) ((float) c.frames * (44100.0f / (float) c.rate)));

    const auto measured = measureSine (wave.channel (0), 44100.0, 1000.0, 200);
    EXPECT_NEAR (measured.amplitude, 0.5, 0.004);
    EXPECT_NEAR (measured.frequency, 1000.0, 0.001);
    EXPECT_LT (measured.maxResidual, 0.002);
}

// Frame counts chosen so that the last partial block starts inside the converted length
// where the ratio allows it (not at 88200 Hz, whose N is half the source).
INSTANTIATE_TEST_SUITE_P (Table, FileConverterSine, testing::Values (
    SineCase { 22050, 6 * blockSize + 5000 },
    SineCase { 32000, 6 * blockSize + 9000 },
    SineCase { 48000, 6 * blockSize + 15000 },
    SineCase { 88200, 12 * blockSize + 15000 },
    SineCase { 96000, 13 * blockSize + 16000 }),
    [] (const testing::TestParamInfo<SineCase>& param) { return std::to_string (param.param.rate); });

//==============================================================================
struct FormatCase
{
    const char* fileName;
    int rate;
    int bits;
    int channels;
    bool exact; // lossless at 44100 Hz: every output sample is the input rounded to 16 bits
};

class FileConverterFormats : public testing::TestWithParam<FormatCase> {};

TEST_P (FileConverterFormats, ReadsEveryInputFormat)
{
    const auto& c = GetParam();
    TemporaryFolder temp;
    const auto input = temp.file (c.fileName), output = temp.file ("out.wav");
    const auto frames = 30000;
    ASSERT_TRUE (writeAudioFile (input, makeSine (c.channels, frames, c.rate, 1000.0, 0.5f), c.rate, c.bits));

    FileConverter converter (nullptr);
    ASSERT_EQ (convert (converter, input, output), "returned");
    const auto wave = parseWave (output);

    if (c.exact)
    {
        expectStandardWave (wave, c.channels, frames);

        juce::AudioFormatManager formats;
        formats.registerBasicFormats();
        std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (input));
        ASSERT_NE (reader, nullptr);
        juce::AudioBuffer<float> original (c.channels, frames);
        reader->read (&original, 0, frames, 0, true, true);

        for (int ch = 0; ch < c.channels; ++ch)
            for (int i = 0; i < frames; ++i)
            {
                const auto expected = juce::jlimit (-32768, 32767, juce::roundToInt (original.getSample (ch, i) * 32768.0));
                ASSERT_EQ (wave.sample (i, ch), expected) << "frame " << i << " channel " << ch;
            }
    }
    else
    {
        const auto expectedFrames = (juce::int64) ((float) frames * (44100.0f / (float) c.rate));
        EXPECT_NEAR ((double) wave.frames(), (double) expectedFrames, 2000.0);
        expectStandardWave (wave, c.channels, wave.frames());

        for (int ch = 0; ch < c.channels; ++ch)
        {
            const auto measured = measureSine (wave.channel (ch), 44100.0, 1000.0, 3000);
            EXPECT_NEAR (measured.amplitude, 0.5, 0.02);
            EXPECT_NEAR (measured.frequency, 1000.0, 0.1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Table, FileConverterFormats, testing::Values (
    FormatCase { "wav16.wav",   44100, 16, 2, true },
    FormatCase { "wav24.wav",   44100, 24, 1, true },
    FormatCase { "float.wav",   44100, 32, 2, true },
    FormatCase { "aiff16.aiff", 44100, 16, 2, true },
    FormatCase { "aiff24.aif",  32000, 24, 1, false },
    FormatCase { "flac16.flac", 44100, 16, 2, true },
    FormatCase { "flac24.flac", 96000, 24, 1, false },
    FormatCase { "vorbis.ogg",  48000, 16, 2, false },
    FormatCase { "mono.ogg",    44100, 16, 1, false }),
    [] (const testing::TestParamInfo<FormatCase>& param)
    {
        return juce::File::createLegalFileName (param.param.fileName).replaceCharacter ('.', '_').toStdString();
    });

TEST (FileConverterFormats, ReadsMp3)
{
    TemporaryFolder temp;
    const auto source = temp.file ("tone.wav"), output = temp.file ("out.wav");
    auto input = temp.file ("tone.mp3");
    ASSERT_TRUE (writeAudioFile (source, makeSine (1, 17640, 44100, 1000.0), 44100));
    ASSERT_TRUE (encodeMp3 (source, input, { "-b", "64" }));

    FileConverter converter (nullptr);
    ASSERT_EQ (convert (converter, input, output), "returned");

    // 0.4 s of 1 kHz at half level, without the encoder's delay and padding.
    const auto wave = parseWave (output);
    expectStandardWave (wave, 1, 17640);

    // The encoder at 64 kbit/s takes the level down to 0.475.
    const auto measured = measureSine (wave.channel (0), 44100.0, 1000.0, 3000);
    EXPECT_NEAR (measured.amplitude, 0.5, 0.04);
    EXPECT_NEAR (measured.frequency, 1000.0, 0.1);
}

//==============================================================================
// Every failure leaves an existing output as it was and writes nothing.
class FileConverterFailures : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE (output.replaceWithText ("an earlier output")); }

    Outcome run (const juce::File& input)
    {
        const auto outcome = convert (converter, input, output);
        EXPECT_EQ (output.loadFileAsString(), "an earlier output");
        EXPECT_EQ (temp.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), expectedEntries);
        return outcome;
    }

    TemporaryFolder temp;
    juce::File output { temp.file ("out.wav") };
    RecordingListener listener;
    FileConverter converter { &listener };
    int expectedEntries = 2; // the input and the earlier output
};

TEST_F (FileConverterFailures, UnreadableInputsAreInvalid)
{
    const auto wave = waveBytes (1, 44100, noise (1000, 2));

    const std::vector<std::pair<const char*, juce::MemoryBlock>> inputs {
        { "empty.wav",     {} },
        { "text.wav",      juce::MemoryBlock ("just some text, no audio", 24) },
        { "header.wav",    juce::MemoryBlock (wave.getData(), 20) },
        { "wave.flac",     juce::MemoryBlock ("fLaC\0\0\0\0", 8) } };

    for (const auto& [name, bytes] : inputs)
    {
        SCOPED_TRACE (name);
        const auto input = temp.file (name);
        ASSERT_TRUE (bytes.isEmpty() ? input.create().wasOk() : input.replaceWithData (bytes.getData(), bytes.getSize()));
        EXPECT_EQ (run (input), "InputFileInvalid: Invalid input file");
        input.deleteFile();
    }

    expectedEntries = 1;
    EXPECT_EQ (run (temp.file ("missing.wav")), "InputFileInvalid: Invalid input file");
    EXPECT_TRUE (listener.get().empty());
}

// The MP3 decoder finds frames in almost any bytes; it must not turn a damaged WAV or AIFF file,
// or anything else that merely carries an input extension, into a "converted" file of noise.
TEST_F (FileConverterFailures, DamagedFilesAreNotDecodedAsNoise)
{
    const auto stereoNoise = waveBytes (2, 44100, noise (2 * 3 * 44100, 5));

    auto brokenMagic = stereoNoise;
    brokenMagic[0] = 'X';

    auto noChannels = waveBytes (1, 44100, noise (44100, 6));
    patch (noChannels, 22, 0, 2);
    patch (noChannels, 32, 0, 2);

    auto noRate = waveBytes (1, 44100, noise (44100, 7));
    patch (noRate, 24, 0, 4);
    patch (noRate, 28, 0, 4);

    juce::MemoryBlock randomBytes (200000);
    juce::Random random (42);
    random.fillBitsRandomly (randomBytes.getData(), randomBytes.getSize());

    const auto aiff = temp.file ("slow.aiff");
    ASSERT_TRUE (writeAudioFile (aiff, makeSine (1, 44100, 44100, 440.0), 44100));
    juce::MemoryBlock slowAiff;
    ASSERT_TRUE (aiff.loadFileAsData (slowAiff));
    ASSERT_TRUE (aiff.deleteFile());
    const auto rateField = find (slowAiff, "COMM") + 16;
    const std::uint8_t halfHertz[] { 0x3f, 0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0 }; // 0.5 as 80-bit extended
    std::memcpy ((char*) slowAiff.getData() + rateField, halfHertz, sizeof (halfHertz));

    const std::vector<std::pair<const char*, juce::MemoryBlock>> inputs {
        { "magic.wav",    brokenMagic },
        { "channels.wav", noChannels },
        { "rate.wav",     noRate },
        { "random.wav",   randomBytes },
        { "random.flac",  randomBytes },
        { "random.ogg",   randomBytes },
        { "slow.aiff",    slowAiff } };

    for (const auto& [name, bytes] : inputs)
    {
        SCOPED_TRACE (name);
        const auto input = temp.file (name);
        ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));
        EXPECT_EQ (run (input), "InputFileInvalid: Invalid input file");
        input.deleteFile();
    }

    EXPECT_TRUE (listener.get().empty());
}

TEST_F (FileConverterFailures, ChannelCountsTheWriterCannotTakeAreInvalid)
{
    // The reader takes the 16-bit channel field as a signed number: 0xffff becomes 4294967295.
    for (const std::uint32_t channels : { 0xffffu, 300u })
    {
        SCOPED_TRACE (channels);
        auto bytes = waveBytes (1, 44100, noise (3000, 3));
        patch (bytes, 22, channels, 2);
        patch (bytes, 32, channels * 2, 2);
        const auto input = temp.file ("channels.wav");
        ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));
        EXPECT_EQ (run (input), "InputFileInvalid: Invalid input file");
    }
}

TEST_F (FileConverterFailures, RateBeyondAWholeNumberIsInvalid)
{
    // Vorbis keeps the rate in 32 unsigned bits; 3 GHz is beyond an int.
    const auto input = temp.file ("fast.ogg");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 5000, 44100, 440.0), 44100));

    juce::MemoryBlock bytes;
    ASSERT_TRUE (input.loadFileAsData (bytes));
    const auto segments = (size_t) (std::uint8_t) bytes[26];
    auto pageSize = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        pageSize += (std::uint8_t) bytes[27 + i];

    ASSERT_EQ (std::string ((const char*) bytes.getData() + 27 + segments + 1, 6), "vorbis");
    patch (bytes, 27 + segments + 12, 3000000000u, 4);

    // The page's checksum: CRC-32 with the polynomial 0x04c11db7 over the page, its own field zero.
    patch (bytes, 22, 0, 4);
    std::uint32_t crc = 0;
    for (size_t i = 0; i < pageSize; ++i)
    {
        crc ^= (std::uint32_t) (std::uint8_t) bytes[i] << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    patch (bytes, 22, crc, 4);
    ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

    juce::OggVorbisAudioFormat ogg;
    std::unique_ptr<juce::AudioFormatReader> reader (ogg.createReaderFor (new juce::FileInputStream (input), true));
    ASSERT_NE (reader, nullptr) << "the damaged file must still open";
    ASSERT_EQ (reader->sampleRate, 3000000000.0);
    reader.reset();

    EXPECT_EQ (run (input), "InputFileInvalid: Invalid input file");
}

TEST_F (FileConverterFailures, LengthsBeyondABufferAreTooLarge)
{
    // Files that really hold more samples than any buffer: upsampled from 8000 Hz, and
    // downsampled from 96000 Hz (the source alone is beyond a buffer).
    for (const auto& [rate, frames] : { std::pair<int, juce::int64> { 8000, 400000000 },
                                        std::pair<int, juce::int64> { 96000, 3000000000 } })
    {
        SCOPED_TRACE (rate);
        const auto input = temp.file ("long.wav");
        ASSERT_TRUE (writeSparseWave (input, rate, 1, frames));
        EXPECT_EQ (run (input), "NewSampleTooLarge: Converted sample size too large");
    }

    EXPECT_TRUE (listener.get().empty());
}

// The resampler reads the source in blocks of the rate ratio times 16384 samples; a rate far
// beyond any recording (here in a 20 KB file) would need gigabytes for them.
TEST_F (FileConverterFailures, RatesBeyondThirtyTwoTimesTheTargetAreInvalid)
{
    const auto input = temp.file ("fast.wav");

    for (const auto rate : { 1411201, 2147483647 })
    {
        SCOPED_TRACE (rate);
        auto bytes = waveBytes (1, 44100, noise (10000, 9));
        patch (bytes, 24, (std::uint32_t) rate, 4);
        ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));
        EXPECT_EQ (run (input), "InputFileInvalid: Invalid input file");
    }

    auto bytes = waveBytes (1, 44100, noise (64000, 9));
    patch (bytes, 24, 1411200, 4);
    ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));
    EXPECT_EQ (convert (converter, input, output), "returned");
    expectStandardWave (parseWave (output), 1, 2000);
}

TEST_F (FileConverterFailures, BitDepthsOtherThanIntegerWaveFail)
{
    auto input = temp.file ("in.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 1000, 44100, 440.0), 44100));

    for (const auto bits : { 12, 32 }) // not a WAV depth; the WAV writer's 32 bits are floats
    {
        SCOPED_TRACE (bits);
        EXPECT_THROW (converter.convertFile (input, output, 44100, bits), FileWriteException);
        EXPECT_EQ (output.loadFileAsString(), "an earlier output");
    }
}

TEST_F (FileConverterFailures, AbortWhileResamplingWritesNothing)
{
    const auto input = temp.file ("in.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (2, 10 * blockSize, 22050, 440.0), 22050));

    // The first report comes after block 0; the abort is seen after block 1.
    listener.onReport = [this] (const Report&) { converter.abort = true; };

    std::atomic<bool> done { false };
    Outcome outcome;
    std::thread worker ([&] { outcome = run (input); done = true; });
    pumpUntil ([&] { return done.load(); });
    worker.join();

    EXPECT_EQ (outcome, "returned");
    ASSERT_EQ (listener.get().size(), 1u);
    EXPECT_EQ (listener.get()[0].fraction, 0.0);

    // The next file starts with the flag cleared.
    listener.onReport = nullptr;
    EXPECT_EQ (convert (converter, input, output), "returned");
    expectStandardWave (parseWave (output), 2, 20 * blockSize);
}

//==============================================================================
TEST (FileConverterWriting, AbortWhileWritingLeavesTheEarlierOutputAsItWas)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    // Long enough that writing it lasts far longer than a trip through the message loop.
    ASSERT_TRUE (writeAudioFile (input, silence (2, 300 * blockSize), 44100));
    ASSERT_TRUE (output.replaceWithText ("an earlier output"));

    RecordingListener listener;
    FileConverter converter (&listener);
    listener.onReport = [&converter] (const Report& report)
    {
        if (report.onMessageThread)
            converter.abort = true;
    };

    EXPECT_EQ (convertOnWorker (converter, input, output), "returned");

    const auto fromMessageThread = listener.fractions (true);
    ASSERT_FALSE (fromMessageThread.empty());
    EXPECT_LT (fromMessageThread.front(), 1.0) << "the file was written before the abort came";

    for (const auto& report : listener.get())
        EXPECT_LT (report.fraction, 1.0);

    EXPECT_EQ (output.loadFileAsString(), "an earlier output");
    EXPECT_EQ (temp.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2) << "a temporary file is left";
    EXPECT_FALSE (converter.abort) << "the next file starts afresh";
}

TEST (FileConverterWriting, AnInputConvertsOntoItself)
{
    TemporaryFolder temp;
    auto file = temp.file ("Kick.wav");
    const auto samples = noise (2 * 30000, 8);
    const auto bytes = waveBytes (2, 48000, samples);
    ASSERT_TRUE (file.replaceWithData (bytes.getData(), bytes.getSize()));

    FileConverter converter (nullptr);
    ASSERT_EQ (convert (converter, file, file), "returned");

    expectStandardWave (parseWave (file), 2, (juce::int64) (30000.0f * (44100.0f / 48000.0f)));
    EXPECT_EQ (temp.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
}

TEST (FileConverterWriting, ReadOnlyOutputIsReplaced)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 5000, 44100, 440.0), 44100));
    ASSERT_TRUE (output.replaceWithText (juce::String::repeatedString ("old", 100000)));
    ASSERT_TRUE (output.setReadOnly (true));

    FileConverter converter (nullptr);
    ASSERT_EQ (convert (converter, input, output), "returned");
    expectStandardWave (parseWave (output), 1, 5000);
    EXPECT_TRUE (output.hasWriteAccess());
}

TEST (FileConverterWriting, UnwritableOutputFails)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 5000, 44100, 440.0), 44100));
    const auto regularFile = temp.createFile ("not-a-folder");

    // Paths below a regular file cannot be created, not even by root.
    for (const auto& output : { temp.file ("missing/out.wav"), regularFile.getChildFile ("out.wav") })
    {
        SCOPED_TRACE (output.getFullPathName());
        RecordingListener listener;
        FileConverter converter (&listener);
        EXPECT_EQ (convert (converter, input, output), "FileWriteException: Error writing file");
        EXPECT_FALSE (output.exists());

        for (const auto& report : listener.get())
            EXPECT_LT (report.fraction, 1.0);
    }
}

TEST (FileConverterWriting, DamagedLengthIsWhatTheFileHolds)
{
    TemporaryFolder temp;
    const auto samples = noise (2026, 4);
    auto wav = waveBytes (1, 44100, samples);
    patch (wav, 40, 0x7ffffff0, 4);
    wav.append ("x", 1); // half a frame more

    juce::AudioBuffer<float> sine = makeSine (2, 3000, 44100, 440.0);
    const auto aiff = temp.file ("damaged.aiff");
    ASSERT_TRUE (writeAudioFile (aiff, sine, 44100));
    juce::MemoryBlock aiffBytes;
    ASSERT_TRUE (aiff.loadFileAsData (aiffBytes));
    patch (aiffBytes, find (aiffBytes, "COMM") + 10, 0x7ffffff0, 4, true);
    patch (aiffBytes, find (aiffBytes, "SSND") + 4, 0x7ffffff0, 4, true);

    const std::vector<std::tuple<const char*, juce::MemoryBlock, int, int>> cases {
        { "damaged.wav", wav, 1, 2026 },
        { "damaged.aiff", aiffBytes, 2, 3000 } };

    for (const auto& [name, bytes, channels, frames] : cases)
    {
        SCOPED_TRACE (name);
        const auto input = temp.file (name), output = temp.file ("out.wav");
        ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

        FileConverter converter (nullptr);
        ASSERT_EQ (convert (converter, input, output), "returned");
        const auto wave = parseWave (output);
        expectStandardWave (wave, channels, frames);

        if (channels == 1)
        {
            EXPECT_TRUE (wave.samples == samples);
        }
    }
}

//==============================================================================
// Upsampling more than 2^24 source samples: the single-precision length can fall short of the
// full blocks (here 1525 blocks of 22050 samples are 2 more than N), and every rendered block
// must still fit the buffer.
TEST (FileConverterLong, UpsamplingBeyondSinglePrecisionStaysInsideTheBuffer)
{
    TemporaryFolder temp;
    const auto input = temp.file ("long.wav"), output = temp.file ("out.wav");
    const auto blocks = 1525;
    const auto convertedLength = 33626248;

    {
        std::unique_ptr<juce::FileOutputStream> stream (input.createOutputStream());
        ASSERT_NE (stream, nullptr);
        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (stream.get(), 32768, 1, 8, {}, 0));
        ASSERT_NE (writer, nullptr);
        stream.release();
        const auto sine = makeSine (1, blockSize, 32768, 1000.0, 0.5f); // a whole number of periods
        for (int b = 0; b < blocks; ++b)
            ASSERT_TRUE (writer->writeFromAudioSampleBuffer (sine, 0, blockSize));
    }

    FileConverter converter (nullptr);
    ASSERT_EQ (convert (converter, input, output), "returned");

    const auto wave = parseWave (output);
    expectStandardWave (wave, 1, convertedLength);

    std::vector<float> tail;
    for (auto i = wave.frames() - 20000; i < wave.frames(); ++i)
        tail.push_back ((float) wave.sample (i, 0) / 32768.0f);

    const auto measured = measureSine (tail, 44100.0, 1000.0, 100);
    EXPECT_NEAR (measured.amplitude, 0.5, 0.002);
}

//==============================================================================
// Limits that a test process must not put on itself, and conversions that may never end, run in
// a child process.
namespace
{
    struct ChildResult
    {
        bool finished = false;
        std::string outcome, reportedOne;
    };

    ChildResult runChild (const juce::File& input, const juce::File& output, const juce::StringArray& options)
    {
        juce::StringArray arguments { QUILLON_CONVERTER_CHILD, input.getFullPathName(), output.getFullPathName() };
        arguments.addArray (options);

        juce::ChildProcess child;
        ChildResult result;
        EXPECT_TRUE (child.start (arguments));
        result.finished = child.waitForProcessToFinish (60000);

        if (! result.finished)
        {
            child.kill();
            ADD_FAILURE() << "the conversion did not end";
            return result;
        }

        const auto text = child.readAllProcessOutput();
        EXPECT_EQ (child.getExitCode(), 0u) << text;

        for (const auto& line : juce::StringArray::fromLines (text))
        {
            if (line.startsWith ("outcome: "))       result.outcome = line.fromFirstOccurrenceOf (": ", false, false).toStdString();
            if (line.startsWith ("reported one: "))  result.reportedOne = line.fromFirstOccurrenceOf (": ", false, false).toStdString();
        }
        return result;
    }

    juce::MemoryBlock contentOf (const juce::File& file)
    {
        juce::MemoryBlock bytes;
        file.loadFileAsData (bytes);
        return bytes;
    }
}

TEST (FileConverterChild, FullDiskLeavesTheEarlierOutputAsItWas)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    const int frames = 10 * blockSize + 5000;
    ASSERT_TRUE (writeAudioFile (input, makeSine (2, frames, 44100, 440.0), 44100));

    // Find the size of the complete file first.
    ASSERT_EQ (runChild (input, output, {}).outcome, "returned");
    const auto fullSize = output.getSize();
    ASSERT_EQ (parseWave (output).frames(), frames);

    // The earlier output is larger than the limit, so it cannot have been rewritten in place.
    ASSERT_TRUE (output.replaceWithText (juce::String::repeatedString ("an earlier output ", 100000)));
    const auto earlier = contentOf (output);

    // In the header, among the blocks, among the single-sample tail, in the last flush.
    for (const auto limit : { (juce::int64) 20, fullSize / 2, fullSize - 5000 * 4 + 100, fullSize - 2 })
    {
        SCOPED_TRACE (limit);
        const auto result = runChild (input, output, { "--file-size", juce::String (limit) });
        EXPECT_EQ (result.outcome, "Error writing file");
        EXPECT_EQ (result.reportedOne, "no");
        EXPECT_TRUE (contentOf (output) == earlier);
        EXPECT_EQ (temp.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2) << "a temporary file is left";
    }
}

TEST (FileConverterChild, BufferThatCannotBeAllocatedIsTooLarge)
{
   #ifdef QUILLON_SANITIZERS
    GTEST_SKIP() << "built with " QUILLON_SANITIZERS ", whose shadow memory does not fit a limited address space";
   #endif

    TemporaryFolder temp;
    const auto input = temp.file ("long.wav"), output = temp.file ("out.wav");

    // 750 million stereo frames: 6 GB of floats, far beyond a 1 GB address space.
    ASSERT_TRUE (writeSparseWave (input, 44100, 2, 1500000000));

    const auto result = runChild (input, output, { "--address-space", juce::String (1 << 30) });
    EXPECT_EQ (result.outcome, "Converted sample size too large");
    EXPECT_FALSE (output.exists());
}

TEST (FileConverterChild, ARateThatNeedsGigabytesIsRefusedWithinAFewMegabytes)
{
   #ifdef QUILLON_SANITIZERS
    GTEST_SKIP() << "built with " QUILLON_SANITIZERS ", whose shadow memory does not fit a limited address space";
   #endif

    TemporaryFolder temp;
    const auto input = temp.file ("fast.wav"), output = temp.file ("out.wav");
    auto bytes = waveBytes (1, 44100, noise (10000, 10));
    patch (bytes, 24, 2147483647u, 4);
    ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

    // The framework alone takes some 100 MB of address space here; the conversion may add a few.
    const auto result = runChild (input, output, { "--address-space", juce::String (256 << 20) });
    EXPECT_EQ (result.outcome, "Invalid input file");
    EXPECT_FALSE (output.exists());
}

// A folder nobody may change keeps even a file that anybody may write: a complete new output
// cannot be put in its place, and the earlier one is not given up for a partial rewrite.
TEST (FileConverterChild, AFolderThatTakesNoNewFileKeepsTheEarlierOutput)
{
    TemporaryFolder temp;
    const auto folder = temp.file ("locked");
    ASSERT_TRUE (folder.createDirectory());
    const auto input = temp.file ("in.wav"), output = folder.getChildFile ("out.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 3000, 44100, 440.0), 44100));
    ASSERT_TRUE (output.replaceWithText (juce::String::repeatedString ("old bytes ", 20000)));
    const auto earlier = contentOf (output);

    ASSERT_EQ (chmod (output.getFullPathName().toRawUTF8(), 0666), 0);
    ASSERT_EQ (chmod (folder.getFullPathName().toRawUTF8(), 0555), 0);

    const auto result = runChild (input, output, { "--unprivileged" });
    chmod (folder.getFullPathName().toRawUTF8(), 0755);

    EXPECT_EQ (result.outcome, "Error writing file");
    EXPECT_EQ (result.reportedOne, "no");
    EXPECT_TRUE (contentOf (output) == earlier);
    EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
}

// What stands at a queued path when its turn comes may be no file to read at all: each must be
// refused at once, never wait for data or read for ever.
TEST (FileConverterChild, WhatCannotBeReadIsRefusedAtOnce)
{
    TemporaryFolder temp;
    const auto output = temp.file ("out.wav");
    ASSERT_TRUE (output.replaceWithText ("an earlier output"));

    const auto sample = temp.file ("sample.flac");
    ASSERT_TRUE (writeAudioFile (sample, makeSine (2, 44100, 44100, 440.0), 44100));

    const auto folder = temp.file ("folder.flac");
    ASSERT_TRUE (folder.createDirectory());

    const auto pipe = temp.file ("pipe.wav");
    ASSERT_EQ (mkfifo (pipe.getFullPathName().toRawUTF8(), 0666), 0);

    const auto socketPath = temp.file ("socket.wav");
    const auto listening = socket (AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE (listening, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy (address.sun_path, socketPath.getFullPathName().toRawUTF8(), sizeof (address.sun_path) - 1);
    ASSERT_EQ (bind (listening, (const sockaddr*) &address, sizeof (address)), 0);
    ASSERT_EQ (listen (listening, 1), 0);

    const auto unreadable = temp.file ("unreadable.flac");
    ASSERT_TRUE (sample.copyFileTo (unreadable));
    ASSERT_EQ (chmod (unreadable.getFullPathName().toRawUTF8(), 0), 0);

    const std::vector<std::pair<juce::File, juce::StringArray>> inputs {
        { folder, {} },
        { pipe, {} },
        { socketPath, {} },
        { juce::File ("/dev/zero"), {} },
        { unreadable, { "--unprivileged" } } };

    for (const auto& [input, options] : inputs)
    {
        SCOPED_TRACE (input.getFullPathName());
        const auto result = runChild (input, output, options);
        EXPECT_EQ (result.outcome, "Invalid input file");
        EXPECT_EQ (output.loadFileAsString(), "an earlier output");
    }

    close (listening);
}

// A failing drive: reads of the input fail from some point on. The file must end with an error
// rather than be read for ever or come out with a silent end.
TEST (FileConverterChild, AReadErrorInTheMiddleFailsTheFile)
{
    TemporaryFolder temp;
    const auto output = temp.file ("out.wav");
    const auto wav = temp.file ("in.wav"), flac = temp.file ("in.flac");
    ASSERT_TRUE (writeAudioFile (wav, makeSine (2, 200000, 44100, 440.0), 44100));
    ASSERT_TRUE (writeAudioFile (flac, makeSine (2, 200000, 44100, 440.0), 44100));

    for (const auto& input : { wav, flac })
    {
        SCOPED_TRACE (input.getFileName());
        const auto result = runChild (input, output, { "--fail-reads-from", juce::String (input.getSize() / 2) });
        EXPECT_EQ (result.outcome, "Invalid input file");
        EXPECT_EQ (result.reportedOne, "no");
        EXPECT_FALSE (output.exists());
    }
}

//==============================================================================
// The file is cut short while it is converted (a card pulled, a file rewritten): what is left
// is not the file, and a silent end must not stand in for what is missing.
TEST (FileConverterInput, AFileThatShrinksWhileReadFailsTheFile)
{
    TemporaryFolder temp;
    const auto output = temp.file ("out.wav");
    const auto wav = temp.file ("in.wav"), flac = temp.file ("in.flac");
    ASSERT_TRUE (writeAudioFile (wav, makeSine (2, 8 * blockSize, 22050, 440.0), 22050));
    ASSERT_TRUE (writeAudioFile (flac, makeSine (2, 8 * blockSize, 22050, 440.0), 22050));

    for (const auto& input : { wav, flac })
    {
        SCOPED_TRACE (input.getFileName());
        RecordingListener listener;
        FileConverter converter (&listener);

        // The first report comes after the first block has been resampled.
        const auto half = input.getSize() / 2;
        listener.onReport = [&input, half] (const Report&)
        {
            EXPECT_EQ (::truncate (input.getFullPathName().toRawUTF8(), (off_t) half), 0);
        };

        EXPECT_EQ (convert (converter, input, output), "InputFileInvalid: Invalid input file");
        EXPECT_FALSE (output.exists());
    }
}

TEST (FileConverterInput, AnAbortStopsALongReadWithinASecond)
{
    // A gigabyte of nothing that every format tries in turn, some byte by byte: seconds of work.
    TemporaryFolder temp;
    const auto input = temp.file ("large.wav"), output = temp.file ("out.wav");
    ASSERT_TRUE (input.create().wasOk());
    ASSERT_EQ (::truncate (input.getFullPathName().toRawUTF8(), (off_t) 1 << 30), 0);

    FileConverter converter (nullptr);
    std::atomic<bool> done { false };
    Outcome outcome;
    std::thread worker ([&] { outcome = convert (converter, input, output); done = true; });

    // Let the formats start on it, then quit.
    pumpFor (200);
    EXPECT_FALSE (done) << "the test needs a longer input";
    const auto abortedAt = juce::Time::getMillisecondCounterHiRes();
    converter.abort = true;

    pumpUntil ([&] { return done.load(); }, 120000);
    const auto took = juce::Time::getMillisecondCounterHiRes() - abortedAt;
    worker.join();

    EXPECT_LT (took, 1000.0);
    EXPECT_EQ (outcome, "returned");
    EXPECT_FALSE (output.exists());
}

//==============================================================================
TEST (FileConverterReports, NoReportOutlivesItsFile)
{
    TemporaryFolder temp;
    const auto input = temp.file ("in.wav"), output = temp.file ("out.wav");
    ASSERT_TRUE (writeAudioFile (input, makeSine (1, 10 * blockSize, 44100, 440.0), 44100));

    // The message thread is busy for the whole conversion, so every request made while writing
    // waits for it.
    RecordingListener listener;
    FileConverter converter (&listener);
    std::thread worker ([&] { EXPECT_EQ (convert (converter, input, output), "returned"); });
    worker.join();

    // By now the listener may stand for the next file: a report of this one would be counted there.
    EXPECT_FALSE (converter.isUpdatePending());
    const auto reports = listener.get().size();
    pumpFor (50);
    EXPECT_EQ (listener.get().size(), reports);
    EXPECT_TRUE (listener.fractions (true).empty());
}

//==============================================================================
// Above 2^24 frames a single-precision length drops or adds a sample; at equal rates the output
// is the source, sample for sample, whatever its length.
TEST (FileConverterLong, EqualRatesKeepEverySampleBeyondSinglePrecision)
{
    TemporaryFolder temp;
    const auto input = temp.file ("long.wav"), output = temp.file ("out.wav");

    for (const size_t frames : { 16777217u, 16777219u })
    {
        SCOPED_TRACE (frames);
        const auto samples = noise (frames, (unsigned) frames);
        const auto bytes = waveBytes (1, 44100, samples);
        ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

        FileConverter converter (nullptr);
        ASSERT_EQ (convert (converter, input, output), "returned");

        const auto wave = parseWave (output);
        expectStandardWave (wave, 1, (juce::int64) frames);
        EXPECT_TRUE (wave.samples == samples);
    }
}
