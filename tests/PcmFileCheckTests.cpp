#include "engine/PcmFileCheck.h"
#include "engine/VorbisChannelOrder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using quillon::test::TemporaryFolder;
using quillon::test::makeSine;
using quillon::test::writeAudioFile;

namespace
{
    using Bytes = juce::MemoryBlock;
    using Verdict = PcmFileCheck::Verdict;

    template <typename Case>
    std::string caseName (const testing::TestParamInfo<Case>& testCase)
    {
        return testCase.param.name;
    }

    //==============================================================================
    // Building files byte by byte.

    void appendInt (Bytes& bytes, std::uint64_t value, int numBytes, bool bigEndian)
    {
        for (int i = 0; i < numBytes; ++i)
        {
            const auto shift = 8 * (bigEndian ? numBytes - 1 - i : i);
            const auto byte = (char) ((value >> shift) & 0xff);
            bytes.append (&byte, 1);
        }
    }

    void appendLE (Bytes& bytes, std::uint64_t value, int numBytes)   { appendInt (bytes, value, numBytes, false); }
    void appendBE (Bytes& bytes, std::uint64_t value, int numBytes)   { appendInt (bytes, value, numBytes, true); }
    void appendId (Bytes& bytes, const char* id)                      { bytes.append (id, 4); }

    Bytes concat (const std::vector<Bytes>& parts)
    {
        Bytes result;
        for (const auto& part : parts)
            result.append (part.getData(), part.getSize());
        return result;
    }

    /** A chunk, padded to an even length unless `pad` is false; `declaredSize` overrides the size field. */
    Bytes chunk (const char* id, const Bytes& body, bool bigEndian, bool pad = true,
                 std::int64_t declaredSize = -1)
    {
        Bytes result;
        appendId (result, id);
        appendInt (result, declaredSize >= 0 ? (std::uint64_t) declaredSize : body.getSize(), 4, bigEndian);
        result.append (body.getData(), body.getSize());

        if (pad && (body.getSize() & 1) != 0)
            result.append ("", 1);

        return result;
    }

    Bytes riffChunk (const char* id, const Bytes& body, bool pad = true, std::int64_t declaredSize = -1)
    {
        return chunk (id, body, false, pad, declaredSize);
    }

    Bytes aiffChunk (const char* id, const Bytes& body, std::int64_t declaredSize = -1)
    {
        return chunk (id, body, true, true, declaredSize);
    }

    Bytes wave (const std::vector<Bytes>& chunks)
    {
        const auto body = concat (chunks);
        Bytes result;
        appendId (result, "RIFF");
        appendLE (result, body.getSize() + 4, 4);
        appendId (result, "WAVE");
        result.append (body.getData(), body.getSize());
        return result;
    }

    Bytes aiff (const char* type, const std::vector<Bytes>& chunks)
    {
        const auto body = concat (chunks);
        Bytes result;
        appendId (result, "FORM");
        appendBE (result, body.getSize() + 4, 4);
        appendId (result, type);
        result.append (body.getData(), body.getSize());
        return result;
    }

    Bytes fmtBody (int tag, int channels, int rate, int bits, int blockAlign)
    {
        Bytes body;
        appendLE (body, (std::uint64_t) tag, 2);
        appendLE (body, (std::uint64_t) channels, 2);
        appendLE (body, (std::uint64_t) rate, 4);
        appendLE (body, (std::uint64_t) rate * (std::uint64_t) blockAlign, 4);
        appendLE (body, (std::uint64_t) blockAlign, 2);
        appendLE (body, (std::uint64_t) bits, 2);
        return body;
    }

    Bytes fmt (int tag, int channels, int rate, int bits, int blockAlign)
    {
        return riffChunk ("fmt ", fmtBody (tag, channels, rate, bits, blockAlign));
    }

    Bytes extensibleFmt (int channels, int rate, int containerBits, int validBits, std::uint32_t mask, int subformat)
    {
        auto body = fmtBody (0xfffe, channels, rate, containerBits, channels * containerBits / 8);
        appendLE (body, 22, 2);
        appendLE (body, (std::uint64_t) validBits, 2);
        appendLE (body, mask, 4);
        appendLE (body, (std::uint64_t) subformat, 4);
        const unsigned char rest[] { 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71 };
        body.append (rest, sizeof (rest));
        return riffChunk ("fmt ", body);
    }

    /** A sample rate as an 80-bit extended number. */
    Bytes extended (double rate)
    {
        int exponent = 0;
        const auto fraction = std::frexp (rate, &exponent); // rate = fraction * 2^exponent, fraction in [0.5, 1)
        Bytes result;
        appendBE (result, (std::uint64_t) (16383 + exponent - 1), 2);
        appendBE (result, (std::uint64_t) std::ldexp (fraction, 64), 8);
        return result;
    }

    Bytes comm (int channels, std::uint32_t frames, int sampleSize, double rate, const char* compression = nullptr)
    {
        Bytes body;
        appendBE (body, (std::uint64_t) channels, 2);
        appendBE (body, frames, 4);
        appendBE (body, (std::uint64_t) sampleSize, 2);
        body.append (extended (rate).getData(), 10);

        if (compression != nullptr)
        {
            appendId (body, compression);
            body.append ("\0\0", 2); // an empty name
        }

        return aiffChunk ("COMM", body);
    }

    Bytes ssnd (const Bytes& samples, std::uint32_t offset = 0)
    {
        Bytes body;
        appendBE (body, offset, 4);
        appendBE (body, 0, 4);
        body.append (Bytes (offset, true).getData(), offset);
        body.append (samples.getData(), samples.getSize());
        return aiffChunk ("SSND", body);
    }

    Bytes cut (const Bytes& bytes, size_t size)
    {
        return Bytes (bytes.getData(), juce::jmin (size, bytes.getSize()));
    }

    void patch (Bytes& bytes, size_t at, std::uint64_t value, int numBytes, bool bigEndian = false)
    {
        for (int i = 0; i < numBytes; ++i)
            bytes[at + (size_t) i] = (char) ((value >> (8 * (bigEndian ? numBytes - 1 - i : i))) & 0xff);
    }

    size_t find (const Bytes& bytes, const char* id)
    {
        const auto text = std::string ((const char*) bytes.getData(), bytes.getSize());
        const auto at = text.find (id);
        EXPECT_NE (at, std::string::npos) << id;
        return at;
    }

    Bytes load (const juce::File& file)
    {
        Bytes bytes;
        EXPECT_TRUE (file.loadFileAsData (bytes));
        return bytes;
    }

    //==============================================================================
    /** Integer samples of a given size, known value by value. */
    struct Pcm
    {
        int channels, frames, bits;
        std::vector<std::int32_t> values; // interleaved

        Pcm (int numChannels, int numFrames, int sampleBits, int seed)
            : channels (numChannels), frames (numFrames), bits (sampleBits)
        {
            juce::Random random (seed);
            const auto top = (std::int64_t) 1 << (bits - 1);

            for (int i = 0; i < channels * frames; ++i)
                values.push_back ((std::int32_t) (random.nextInt64() % top));

            values[0] = (std::int32_t) (top - 1); // the extremes
            values[1] = (std::int32_t) -top;
        }

        float expected (int frame, int channel) const
        {
            return (float) std::ldexp ((double) values[(size_t) (frame * channels + channel)], 1 - bits);
        }

        /** The samples left-justified in containers of the given size; 8-bit containers in WAV
            files are offset binary. */
        Bytes encode (int containerBytes, bool bigEndian, bool offsetBinaryBytes = false) const
        {
            Bytes result;

            for (const auto value : values)
            {
                auto container = (std::uint64_t) ((std::int64_t) value * ((std::int64_t) 1 << (8 * containerBytes - bits)));

                if (offsetBinaryBytes && containerBytes == 1)
                    container += 0x80;

                appendInt (result, container, containerBytes, bigEndian);
            }

            return result;
        }
    };

    //==============================================================================
    PcmFileCheck check (const Bytes& bytes)
    {
        // (The framework's copy of an empty block passes a null pointer to memcpy.)
        return checkPcmFile (bytes.isEmpty() ? std::make_unique<juce::MemoryInputStream> (nullptr, 0, false)
                                             : std::make_unique<juce::MemoryInputStream> (bytes, true));
    }

    std::string describe (Verdict verdict)
    {
        switch (verdict)
        {
            case Verdict::notWavOrAiff: return "not WAV or AIFF";
            case Verdict::refused:      return "refused";
            case Verdict::readable:     return "readable";
        }

        return {};
    }

    /** Everything the reader gives, read the way the converter reads it: through an
        AudioFormatReaderSource, in blocks. */
    juce::AudioBuffer<float> readAll (std::unique_ptr<juce::AudioFormatReader> reader)
    {
        const auto channels = (int) reader->numChannels;
        const auto length = (int) reader->lengthInSamples;
        const auto rate = reader->sampleRate;

        juce::AudioFormatReaderSource source (reader.release(), true);
        source.prepareToPlay (1000, rate);

        juce::AudioBuffer<float> buffer (channels, length);
        buffer.clear();

        for (int start = 0; start < length; start += 1000)
            source.getNextAudioBlock (juce::AudioSourceChannelInfo (&buffer, start, juce::jmin (1000, length - start)));

        return buffer;
    }

    void expectSamples (const juce::AudioBuffer<float>& buffer, const Pcm& pcm, int frames)
    {
        ASSERT_EQ (buffer.getNumChannels(), pcm.channels);
        ASSERT_EQ (buffer.getNumSamples(), frames);

        int mismatches = 0;

        for (int frame = 0; frame < frames; ++frame)
            for (int channel = 0; channel < pcm.channels; ++channel)
                if (std::abs (buffer.getSample (channel, frame) - pcm.expected (frame, channel)) > 1.0e-6f && ++mismatches <= 5)
                    ADD_FAILURE() << "frame " << frame << ", channel " << channel << ": "
                                  << buffer.getSample (channel, frame) << " instead of " << pcm.expected (frame, channel);
    }
}

//==============================================================================
// Files whose every sample is known: each must come out value by value, and nothing more.
namespace
{
    struct LayoutCase
    {
        const char* name;
        Pcm pcm;
        std::function<Bytes (const Pcm&)> build;
        int expectedFrames;
        int expectedBits; // the container the reader decodes
        double rate = 44100.0;
    };

    std::ostream& operator<< (std::ostream& out, const LayoutCase& c)   { return out << c.name; }

    class PcmFileLayouts : public testing::TestWithParam<LayoutCase> {};
}

TEST_P (PcmFileLayouts, ReadExactlyWhatTheFileHolds)
{
    const auto& c = GetParam();
    auto checked = check (c.build (c.pcm));

    ASSERT_EQ (describe (checked.verdict), "readable");
    ASSERT_NE (checked.reader, nullptr);
    EXPECT_EQ (checked.stream, nullptr);

    const auto& reader = *checked.reader;
    EXPECT_EQ (reader.numChannels, (unsigned int) c.pcm.channels);
    EXPECT_EQ (reader.lengthInSamples, c.expectedFrames);
    EXPECT_EQ (reader.sampleRate, c.rate);
    EXPECT_EQ (reader.bitsPerSample, (unsigned int) c.expectedBits);
    EXPECT_FALSE (reader.usesFloatingPointData);

    expectSamples (readAll (std::move (checked.reader)), c.pcm, c.expectedFrames);
}

INSTANTIATE_TEST_SUITE_P (Table, PcmFileLayouts, testing::Values (
    LayoutCase { "TwelveBitWav", Pcm (2, 1000, 12, 1), [] (const Pcm& p)
        { return wave ({ fmt (1, 2, 44100, 12, 4), riffChunk ("data", p.encode (2, false)) }); }, 1000, 16 },

    LayoutCase { "TwentyBitWav", Pcm (1, 999, 20, 2), [] (const Pcm& p)
        { return wave ({ fmt (1, 1, 44100, 20, 3), riffChunk ("data", p.encode (3, false)) }); }, 999, 24 },

    LayoutCase { "FourBitWav", Pcm (1, 77, 4, 3), [] (const Pcm& p)
        { return wave ({ fmt (1, 1, 44100, 4, 1), riffChunk ("data", p.encode (1, false, true)) }); }, 77, 8 },

    LayoutCase { "TwelveBitAiff", Pcm (2, 1000, 12, 4), [] (const Pcm& p)
        { return aiff ("AIFF", { comm (2, 1000, 12, 44100), ssnd (p.encode (2, true)) }); }, 1000, 16 },

    LayoutCase { "TwelveBitLittleEndianAifc", Pcm (1, 500, 12, 5), [] (const Pcm& p)
        { return aiff ("AIFC", { comm (1, 500, 12, 44100, "sowt"), ssnd (p.encode (2, false)) }); }, 500, 16 },

    LayoutCase { "AiffWithSoundBeforeComm", Pcm (2, 900, 24, 17), [] (const Pcm& p)
        { return aiff ("AIFF", { ssnd (p.encode (3, true)), comm (2, 900, 24, 44100) }); }, 900, 24 },

    LayoutCase { "WavWithDataBeforeFmt", Pcm (2, 1200, 16, 6), [] (const Pcm& p)
        { return wave ({ riffChunk ("data", p.encode (2, false)), fmt (1, 2, 44100, 16, 4) }); }, 1200, 16 },

    LayoutCase { "WavWithEmptyChunkBetweenFmtAndData", Pcm (1, 1500, 16, 7), [] (const Pcm& p)
        { return wave ({ fmt (1, 1, 44100, 16, 2), riffChunk ("JUNK", {}), riffChunk ("data", p.encode (2, false)) }); }, 1500, 16 },

    LayoutCase { "AiffFrameCountBeyondASignedInt", Pcm (1, 2000, 16, 8), [] (const Pcm& p)
        { return aiff ("AIFF", { comm (1, 0x80000010u, 16, 44100), ssnd (p.encode (2, true)) }); }, 2000, 16 },

    LayoutCase { "WavOverstatingItsData", Pcm (2, 800, 24, 9), [] (const Pcm& p)
        { return wave ({ fmt (1, 2, 44100, 24, 6), riffChunk ("data", p.encode (3, false), true, 0x7ffffff0) }); }, 800, 24 },

    LayoutCase { "WavCutInsideAFrame", Pcm (2, 800, 16, 10), [] (const Pcm& p)
        {
            const auto full = wave ({ fmt (1, 2, 44100, 16, 4), riffChunk ("data", p.encode (2, false)) });
            return cut (full, full.getSize() - 4 * 100 - 3);
        }, 699, 16 },

    LayoutCase { "AiffOverstatingItsFrames", Pcm (1, 640, 8, 11), [] (const Pcm& p)
        { return aiff ("AIFF", { comm (1, 100000, 8, 22050), ssnd (p.encode (1, true), 0) }); }, 640, 8, 22050.0 },

    LayoutCase { "AiffWithAnOffsetIntoItsSound", Pcm (1, 300, 16, 12), [] (const Pcm& p)
        { return aiff ("AIFF", { comm (1, 300, 16, 44100), ssnd (p.encode (2, true), 6) }); }, 300, 16 },

    // The frames stop where the data chunk stops, not where the file does.
    LayoutCase { "WavWithAChunkAfterItsData", Pcm (1, 333, 16, 13), [] (const Pcm& p)
        {
            Bytes text;
            text.append ("INFOISFT\x05\0\0\0abcd\0\0", 16);
            return wave ({ fmt (1, 1, 48000, 16, 2), riffChunk ("data", p.encode (2, false)), riffChunk ("LIST", text) });
        }, 333, 16, 48000.0 },

    // A trailing chunk list that runs past the end of the file (the framework's reader would
    // go round for ever looking for its entries).
    LayoutCase { "WavWithAnOverrunningListAfterItsData", Pcm (1, 400, 16, 14), [] (const Pcm& p)
        {
            Bytes list;
            list.append ("adtl", 4);
            return wave ({ fmt (1, 1, 44100, 16, 2), riffChunk ("data", p.encode (2, false)), riffChunk ("LIST", list, true, 1000) });
        }, 400, 16 },

    LayoutCase { "Rf64", Pcm (2, 700, 16, 15), [] (const Pcm& p)
        {
            Bytes ds64;
            appendLE (ds64, 4 + 36 + 8 + 28 + 8 + 2800, 8);
            appendLE (ds64, 2800, 8);
            appendLE (ds64, 700, 8);
            appendLE (ds64, 0, 4);
            auto bytes = wave ({ riffChunk ("ds64", ds64), fmt (1, 2, 44100, 16, 4),
                                 riffChunk ("data", p.encode (2, false), true, 0xffffffff) });
            bytes.copyFrom ("RF64\xff\xff\xff\xff", 0, 8);
            return bytes;
        }, 700, 16 },

    LayoutCase { "ExtensibleWithTwentyFourBitsInThirtyTwo", Pcm (2, 500, 24, 16), [] (const Pcm& p)
        { return wave ({ extensibleFmt (2, 96000, 32, 24, 3, 1), riffChunk ("data", p.encode (4, false)) }); }, 500, 32, 96000.0 }
), caseName<LayoutCase>);

//==============================================================================
// What the framework's readers read right on their own is read the same, sample for sample.
namespace
{
    struct SoundFileCase
    {
        const char* name;
        std::function<Bytes (const TemporaryFolder&)> build;
    };

    std::ostream& operator<< (std::ostream& out, const SoundFileCase& c)   { return out << c.name; }

    class PcmFileSoundFiles : public testing::TestWithParam<SoundFileCase> {};

    Bytes written (const TemporaryFolder& temp, const char* name, int channels, double rate, int bits)
    {
        auto samples = makeSine (channels, 3000, rate, 440.0, 0.7f);

        for (int c = 1; c < channels; ++c)
            samples.applyGain (c, 0, samples.getNumSamples(), 1.0f / (float) (c + 1));

        const auto file = temp.file (name);
        EXPECT_TRUE (writeAudioFile (file, samples, rate, bits));
        return load (file);
    }

    Bytes floatBytes (int count, bool bigEndian)
    {
        Bytes result;

        for (int i = 0; i < count; ++i)
        {
            const auto value = (float) std::sin (i * 0.01) * 0.9f;
            std::uint32_t bits = 0;
            std::memcpy (&bits, &value, 4);
            appendInt (result, bits, 4, bigEndian);
        }

        return result;
    }
}

TEST_P (PcmFileSoundFiles, ReadAsTheFrameworkReadsThem)
{
    TemporaryFolder temp;
    const auto bytes = GetParam().build (temp);

    auto checked = check (bytes);
    ASSERT_EQ (describe (checked.verdict), "readable");

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> framework (formats.createReaderFor (std::make_unique<juce::MemoryInputStream> (bytes, true)));
    ASSERT_NE (framework, nullptr);
    ASSERT_GT (framework->lengthInSamples, 0);

    EXPECT_EQ (checked.reader->getFormatName(), framework->getFormatName());
    EXPECT_EQ (checked.reader->numChannels, framework->numChannels);
    EXPECT_EQ (checked.reader->lengthInSamples, framework->lengthInSamples);
    EXPECT_EQ (checked.reader->sampleRate, framework->sampleRate);
    EXPECT_EQ (checked.reader->bitsPerSample, framework->bitsPerSample);
    EXPECT_EQ (checked.reader->usesFloatingPointData, framework->usesFloatingPointData);
    EXPECT_EQ (checked.reader->getChannelLayout(), framework->getChannelLayout());

    const auto ours = readAll (std::move (checked.reader));
    const auto theirs = readAll (std::move (framework));

    for (int channel = 0; channel < theirs.getNumChannels(); ++channel)
        for (int i = 0; i < theirs.getNumSamples(); ++i)
            ASSERT_EQ (ours.getSample (channel, i), theirs.getSample (channel, i)) << "channel " << channel << ", sample " << i;
}

INSTANTIATE_TEST_SUITE_P (Table, PcmFileSoundFiles, testing::Values (
    SoundFileCase { "Wav8", [] (const TemporaryFolder& folder) { return written (folder, "a.wav", 1, 22050, 8); } },
    SoundFileCase { "Wav16", [] (const TemporaryFolder& folder) { return written (folder, "a.wav", 2, 44100, 16); } },
    SoundFileCase { "Wav24SixChannels", [] (const TemporaryFolder& folder) { return written (folder, "a.wav", 6, 48000, 24); } },
    SoundFileCase { "WavFloat", [] (const TemporaryFolder& folder) { return written (folder, "a.wav", 2, 96000, 32); } },
    SoundFileCase { "PlainFloatWav", [] (const TemporaryFolder&)
        { return wave ({ fmt (3, 1, 44100, 32, 4), riffChunk ("data", floatBytes (2000, false)) }); } },
    SoundFileCase { "Aiff8", [] (const TemporaryFolder& folder) { return written (folder, "a.aiff", 1, 8000, 8); } },
    SoundFileCase { "Aiff16", [] (const TemporaryFolder& folder) { return written (folder, "a.aiff", 2, 44100, 16); } },
    SoundFileCase { "Aiff24", [] (const TemporaryFolder& folder) { return written (folder, "a.aif", 3, 32000, 24); } },
    SoundFileCase { "AifcNone", [] (const TemporaryFolder&)
        { return aiff ("AIFC", { comm (2, 600, 16, 44100, "NONE"), ssnd (Pcm (2, 600, 16, 20).encode (2, true)) }); } },
    SoundFileCase { "AifcSowt", [] (const TemporaryFolder&)
        { return aiff ("AIFC", { comm (2, 600, 24, 44100, "sowt"), ssnd (Pcm (2, 600, 24, 21).encode (3, false)) }); } },
    SoundFileCase { "AifcFl32", [] (const TemporaryFolder&)
        { return aiff ("AIFC", { comm (1, 2000, 32, 48000, "fl32"), ssnd (floatBytes (2000, true)) }); } }
), caseName<SoundFileCase>);

TEST (PcmFileSoundFiles, FloatAifcIsReadAsFloatWhateverItsSampleSize)
{
    const auto reference = aiff ("AIFC", { comm (2, 1000, 32, 44100, "fl32"), ssnd (floatBytes (2000, true)) });
    const auto sixteen = aiff ("AIFC", { comm (2, 1000, 16, 44100, "fl32"), ssnd (floatBytes (2000, true)) });

    auto checked = check (sixteen);
    ASSERT_EQ (describe (checked.verdict), "readable");
    EXPECT_EQ (checked.reader->lengthInSamples, 1000);
    EXPECT_TRUE (checked.reader->usesFloatingPointData);

    const auto ours = readAll (std::move (checked.reader));
    const auto theirs = readAll (std::unique_ptr<juce::AudioFormatReader> (
        juce::AiffAudioFormat().createReaderFor (new juce::MemoryInputStream (reference, true), true)));

    ASSERT_EQ (ours.getNumSamples(), theirs.getNumSamples());

    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < theirs.getNumSamples(); ++i)
            ASSERT_EQ (ours.getSample (channel, i), theirs.getSample (channel, i)) << "channel " << channel << ", sample " << i;
}

TEST (PcmFileSoundFiles, EmptyDataIsAnEmptySound)
{
    for (const auto& bytes : { wave ({ fmt (1, 2, 44100, 16, 4), riffChunk ("data", {}) }),
                               aiff ("AIFF", { comm (1, 0, 16, 44100), ssnd ({}) }) })
    {
        auto checked = check (bytes);
        ASSERT_EQ (describe (checked.verdict), "readable");
        EXPECT_EQ (checked.reader->lengthInSamples, 0);
    }
}

//==============================================================================
// WAV and AIFF files that are refused: damaged, or in a layout that cannot be read as it stands.
namespace
{
    struct RefusedCase
    {
        const char* name;
        std::function<Bytes()> build;
    };

    std::ostream& operator<< (std::ostream& out, const RefusedCase& c)   { return out << c.name; }

    class PcmFileRefusals : public testing::TestWithParam<RefusedCase> {};

    Bytes twelveBitAiff (int sampleSize)
    {
        return aiff ("AIFF", { comm (1, 1000, sampleSize, 44100), ssnd (Pcm (1, 1000, 16, 30).encode (2, true)) });
    }

    Bytes soundAiff()
    {
        return aiff ("AIFF", { comm (2, 1000, 16, 44100), aiffChunk ("MARK", Bytes ("\0\0", 2)),
                               ssnd (Pcm (2, 1000, 16, 31).encode (2, true)) });
    }

    Bytes soundWav()
    {
        Bytes list;
        list.append ("INFOICMT\x03\0\0\0abc", 15);
        return wave ({ fmt (1, 2, 44100, 16, 4), riffChunk ("LIST", list), riffChunk ("data", Pcm (2, 1000, 16, 32).encode (2, false)) });
    }
}

TEST_P (PcmFileRefusals, AreRefused)
{
    auto checked = check (GetParam().build());
    EXPECT_EQ (describe (checked.verdict), "refused");
    EXPECT_EQ (checked.reader, nullptr);
    EXPECT_EQ (checked.stream, nullptr);
}

INSTANTIATE_TEST_SUITE_P (Table, PcmFileRefusals, testing::Values (
    RefusedCase { "WavMissingAPadByteBeforeItsData", []
        {
            Bytes list;
            list.append ("INFOICMT\x03\0\0\0abc", 15);
            return wave ({ fmt (1, 2, 44100, 16, 4), riffChunk ("LIST", list, false),
                           riffChunk ("data", Pcm (2, 1000, 16, 33).encode (2, false)) });
        } },
    RefusedCase { "AiffSampleSizeZero", [] { return twelveBitAiff (0); } },
    RefusedCase { "AiffSampleSizeHuge", [] { return twelveBitAiff (32767); } },
    RefusedCase { "AiffWithoutSound", [] { return aiff ("AIFF", { comm (1, 1000, 16, 44100) }); } },
    RefusedCase { "AiffCutInsideComm", [] { return cut (soundAiff(), find (soundAiff(), "COMM") + 8 + 11); } },
    RefusedCase { "AiffCutBeforeSound", [] { return cut (soundAiff(), find (soundAiff(), "SSND")); } },
    RefusedCase { "AiffCutInsideSoundHeader", [] { return cut (soundAiff(), find (soundAiff(), "SSND") + 8 + 5); } },
    RefusedCase { "AiffSoundOffsetBeyondItsChunk", []
        {
            auto bytes = soundAiff();
            patch (bytes, find (bytes, "SSND") + 8, 4001, 4, true);
            return bytes;
        } },
    RefusedCase { "AiffShortComm", []
        {
            Bytes body;
            appendBE (body, 1, 2);
            appendBE (body, 1000, 4);
            appendBE (body, 16, 2);
            return aiff ("AIFF", { aiffChunk ("COMM", body), ssnd (Pcm (1, 1000, 16, 34).encode (2, true)) });
        } },
    RefusedCase { "AifcCompressed", []
        { return aiff ("AIFC", { comm (1, 1000, 16, 44100, "ima4"), ssnd (Pcm (1, 1000, 16, 35).encode (2, true)) }); } },
    RefusedCase { "AiffWithoutChannels", []
        { return aiff ("AIFF", { comm (0, 1000, 16, 44100), ssnd (Pcm (1, 1000, 16, 36).encode (2, true)) }); } },
    RefusedCase { "WavCutInsideFmt", [] { return cut (soundWav(), 12 + 8 + 10); } },
    RefusedCase { "WavCutBeforeData", [] { return cut (soundWav(), find (soundWav(), "data") + 6); } },
    RefusedCase { "WavCutAtItsData", [] { return cut (soundWav(), find (soundWav(), "data") + 8 + 3); } },
    RefusedCase { "AiffCutAtItsSound", [] { return cut (soundAiff(), find (soundAiff(), "SSND") + 16 + 3); } },
    RefusedCase { "WavWithoutData", [] { return wave ({ fmt (1, 1, 44100, 16, 2) }); } },
    RefusedCase { "WavWithoutFmt", [] { return wave ({ riffChunk ("data", Pcm (1, 100, 16, 37).encode (2, false)) }); } },
    RefusedCase { "WavShortFmt", []
        {
            return wave ({ riffChunk ("fmt ", cut (fmtBody (1, 1, 44100, 16, 2), 14)),
                           riffChunk ("data", Pcm (1, 100, 16, 38).encode (2, false)) });
        } },
    RefusedCase { "WavListOverrunningTheFileBeforeData", []
        {
            auto bytes = soundWav();
            patch (bytes, find (bytes, "LIST") + 4, 0x10000000, 4);
            return bytes;
        } },
    RefusedCase { "WavWithPackedTwelveBitSamples", []
        { return wave ({ fmt (1, 2, 44100, 12, 3), riffChunk ("data", Bytes (3000, true)) }); } },
    RefusedCase { "WavFloatOfSixteenBits", []
        { return wave ({ fmt (3, 1, 44100, 16, 2), riffChunk ("data", Pcm (1, 100, 16, 39).encode (2, false)) }); } },
    RefusedCase { "WavOfSixtyFourBitSamples", []
        { return wave ({ fmt (3, 1, 44100, 64, 8), riffChunk ("data", Bytes (800, true)) }); } },
    RefusedCase { "WavOfAHugeSampleSize", []
        { return wave ({ fmt (1, 50000, 44100, 44512, 8), riffChunk ("data", Bytes (800, true)) }); } },
    RefusedCase { "WavCompressed", []
        { return wave ({ fmt (2, 1, 44100, 4, 256), riffChunk ("data", Bytes (1024, true)) }); } },
    RefusedCase { "WavWithoutRate", []
        { return wave ({ fmt (1, 1, 0, 16, 2), riffChunk ("data", Pcm (1, 100, 16, 40).encode (2, false)) }); } },
    RefusedCase { "WavWithoutChannels", []
        { return wave ({ fmt (1, 0, 44100, 16, 2), riffChunk ("data", Pcm (1, 100, 16, 41).encode (2, false)) }); } },
    // The framework's readers would read no frame of it, for ever.
    RefusedCase { "WavFrameBeyondTheReadersBuffer", []
        { return wave ({ fmt (1, 2000, 44100, 32, 8000), riffChunk ("data", Bytes (16000, true)) }); } },
    RefusedCase { "ExtensibleOfAnUnknownSubformat", []
        { return wave ({ extensibleFmt (2, 44100, 16, 16, 3, 2), riffChunk ("data", Bytes (4000, true)) }); } },
    RefusedCase { "Rf64WithoutDs64", []
        {
            auto bytes = soundWav();
            bytes.copyFrom ("RF64", 0, 4);
            return bytes;
        } }
), caseName<RefusedCase>);

//==============================================================================
// Damage anywhere in a header: whatever the answer, the check and the reader it gives stay inside
// the file, and a reader gives no more frames than the file has bytes.
TEST (PcmFileDamage, HeadersDamagedAtRandomAreReadSafely)
{
    const std::vector<Bytes> originals {
        soundWav(), soundAiff(),
        wave ({ extensibleFmt (2, 48000, 24, 20, 3, 1), riffChunk ("data", Pcm (2, 300, 20, 60).encode (3, false)) }),
        aiff ("AIFC", { comm (1, 500, 12, 44100, "sowt"), ssnd (Pcm (1, 500, 12, 61).encode (2, false)) }) };

    juce::Random random (2024);
    int readable = 0, refused = 0;

    for (int i = 0; i < 4000; ++i)
    {
        auto bytes = originals[(size_t) i % originals.size()];

        if (random.nextInt (4) == 0)
        {
            bytes.setSize ((size_t) random.nextInt ((int) bytes.getSize()));
        }
        else
        {
            for (int damage = 1 + random.nextInt (3); --damage >= 0;)
                bytes[(size_t) random.nextInt (juce::jmin (96, (int) bytes.getSize()))] = (char) random.nextInt (256);
        }

        SCOPED_TRACE (i);
        auto checked = check (bytes);

        if (checked.verdict == Verdict::readable)
        {
            ++readable;
            ASSERT_NE (checked.reader, nullptr);
            ASSERT_GT (checked.reader->numChannels, 0u);
            ASSERT_GT (checked.reader->sampleRate, 0.0);
            ASSERT_LE (checked.reader->lengthInSamples, (juce::int64) bytes.getSize());

            readAll (std::move (checked.reader));
        }
        else
        {
            refused += checked.verdict == Verdict::refused ? 1 : 0;
            ASSERT_EQ (checked.reader, nullptr);
        }
    }

    // Both answers were met.
    EXPECT_GT (readable, 100);
    EXPECT_GT (refused, 100);
}

//==============================================================================
TEST (PcmFileOthers, AreHandedBackForTheOtherFormats)
{
    TemporaryFolder temp;
    const auto flac = temp.file ("a.flac"), ogg = temp.file ("a.ogg");
    ASSERT_TRUE (writeAudioFile (flac, makeSine (1, 2000, 44100, 440.0), 44100));
    ASSERT_TRUE (writeAudioFile (ogg, makeSine (2, 2000, 44100, 440.0), 44100));

    Bytes avi;
    appendId (avi, "RIFF");
    appendLE (avi, 100, 4);
    appendId (avi, "AVI ");
    avi.append (Bytes (96, true).getData(), 96);

    const std::vector<std::pair<const char*, Bytes>> inputs {
        { "flac", load (flac) }, { "ogg", load (ogg) }, { "avi", avi },
        { "text", Bytes ("FORM but not an AIFF file", 25) }, { "short", Bytes ("RIFF", 4) }, { "empty", {} } };

    for (const auto& [name, bytes] : inputs)
    {
        SCOPED_TRACE (name);
        auto checked = check (bytes);
        EXPECT_EQ (describe (checked.verdict), "not WAV or AIFF");
        EXPECT_EQ (checked.reader, nullptr);
        ASSERT_NE (checked.stream, nullptr);
        EXPECT_EQ (checked.stream->getPosition(), 0);
        EXPECT_EQ (checked.stream->getTotalLength(), (juce::int64) bytes.getSize());
    }

    EXPECT_EQ (describe (checkPcmFile (nullptr).verdict), "not WAV or AIFF");

    // The stream comes back ready for the other formats.
    auto checked = checkPcmFile (flac.createInputStream());
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (std::move (checked.stream)));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->lengthInSamples, 2000);
}

TEST (PcmFileStreams, AFileStreamIsReadFromTheFilesStartWhereverItWasLeft)
{
    // The reader is handed the file's own stream, already moved by an earlier look at it.
    TemporaryFolder temp;
    const Pcm pcm (2, 5000, 12, 50);
    const auto input = temp.file ("twelve.wav");
    const auto bytes = wave ({ fmt (1, 2, 44100, 12, 4), riffChunk ("data", pcm.encode (2, false)) });
    ASSERT_TRUE (input.replaceWithData (bytes.getData(), bytes.getSize()));

    std::unique_ptr<juce::InputStream> stream (input.createInputStream());
    ASSERT_NE (stream, nullptr);
    stream->setPosition (1234);

    auto checked = checkPcmFile (std::move (stream));
    ASSERT_EQ (describe (checked.verdict), "readable");
    expectSamples (readAll (std::move (checked.reader)), pcm, 5000);
}

//==============================================================================
// Vorbis channel order.
namespace
{
    /** The dominant one of the candidate frequencies in a channel (Goertzel power). */
    int loudestOf (const juce::AudioBuffer<float>& buffer, int channel, double rate, const std::vector<double>& frequencies)
    {
        int loudest = -1;
        double loudestPower = 0.0;

        for (size_t f = 0; f < frequencies.size(); ++f)
        {
            const auto coefficient = 2.0 * std::cos (juce::MathConstants<double>::twoPi * frequencies[f] / rate);
            double previous = 0.0, beforePrevious = 0.0;

            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                const auto current = buffer.getSample (channel, i) + coefficient * previous - beforePrevious;
                beforePrevious = previous;
                previous = current;
            }

            const auto power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;

            if (power > loudestPower)
            {
                loudestPower = power;
                loudest = (int) f;
            }
        }

        return loudest;
    }

    std::vector<double> toneFrequencies (int channels)
    {
        std::vector<double> result;
        for (int c = 0; c < channels; ++c)
            result.push_back (300.0 + 350.0 * c);
        return result;
    }

    /** One tone per channel, channel c at toneFrequencies()[c]. */
    juce::AudioBuffer<float> tones (int channels, int frames, double rate)
    {
        juce::AudioBuffer<float> buffer (channels, frames);
        const auto frequencies = toneFrequencies (channels);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < frames; ++i)
                buffer.setSample (c, i, 0.4f * (float) std::sin (juce::MathConstants<double>::twoPi * frequencies[(size_t) c] * i / rate));

        return buffer;
    }

    std::unique_ptr<juce::AudioFormatReader> oggReader (const juce::File& file)
    {
        juce::OggVorbisAudioFormat ogg;
        return std::unique_ptr<juce::AudioFormatReader> (ogg.createReaderFor (file.createInputStream().release(), true));
    }

    /** Which tone each channel carries. */
    std::vector<int> toneOrder (std::unique_ptr<juce::AudioFormatReader> reader)
    {
        const auto rate = reader->sampleRate;
        const auto channels = (int) reader->numChannels;
        const auto buffer = readAll (std::move (reader));

        std::vector<int> order;
        for (int c = 0; c < channels; ++c)
            order.push_back (loudestOf (buffer, c, rate, toneFrequencies (channels)));
        return order;
    }

    // Speakers in WAV order, and the streams' speakers in Vorbis order, for 3 to 8 channels.
    const std::vector<std::string> wavSpeakerOrder { "FL", "FR", "FC", "LFE", "BL", "BR", "FLC", "FRC", "BC", "SL", "SR" };

    const std::vector<std::vector<std::string>> vorbisSpeakers {
        { "FL", "FC", "FR" },
        { "FL", "FR", "BL", "BR" },
        { "FL", "FC", "FR", "BL", "BR" },
        { "FL", "FC", "FR", "BL", "BR", "LFE" },
        { "FL", "FC", "FR", "SL", "SR", "BC", "LFE" },
        { "FL", "FC", "FR", "SL", "SR", "BL", "BR", "LFE" } };
}

TEST (VorbisChannelOrder, EveryLayoutComesOutInWavOrder)
{
    TemporaryFolder temp;

    for (int channels = 1; channels <= 8; ++channels)
    {
        SCOPED_TRACE (channels);

        // The framework's writer takes the channels as the stream's, in Vorbis order.
        const auto file = temp.file ("tones.ogg");
        ASSERT_TRUE (writeAudioFile (file, tones (channels, 20000, 44100), 44100));

        std::vector<int> identity;
        for (int c = 0; c < channels; ++c)
            identity.push_back (c);

        // The framework's reader passes the stream's order through.
        ASSERT_EQ (toneOrder (oggReader (file)), identity);

        auto expected = identity;

        if (channels >= 3)
        {
            const auto& speakers = vorbisSpeakers[(size_t) channels - 3];
            std::sort (expected.begin(), expected.end(), [&] (int a, int b)
            {
                const auto position = [&] (int stream)
                {
                    return std::find (wavSpeakerOrder.begin(), wavSpeakerOrder.end(), speakers[(size_t) stream]) - wavSpeakerOrder.begin();
                };
                return position (a) < position (b);
            });
        }

        auto reader = VorbisChannelOrderReader::inWavOrder (oggReader (file));
        ASSERT_NE (reader, nullptr);
        EXPECT_EQ (reader->getFormatName(), juce::OggVorbisAudioFormat().getFormatName());
        EXPECT_EQ (reader->numChannels, (unsigned int) channels);
        EXPECT_EQ (reader->lengthInSamples, 20000);
        EXPECT_EQ (reader->sampleRate, 44100.0);
        EXPECT_TRUE (reader->usesFloatingPointData);
        EXPECT_EQ (toneOrder (std::move (reader)), expected);
    }
}

TEST (VorbisChannelOrder, SurroundFilesFromAVorbisEncoderComeBackInTheirWavOrder)
{
    // An encoder that follows the Vorbis mapping moves a WAV file's channels into Vorbis order.
    TemporaryFolder temp;

    for (const auto channels : { 3, 5, 6, 8 })
    {
        SCOPED_TRACE (channels);
        const auto wav = temp.file ("surround.wav"), ogg = temp.file ("surround.ogg");
        ASSERT_TRUE (writeAudioFile (wav, tones (channels, 30000, 48000), 48000, 16));

        juce::ChildProcess encoder;
        ASSERT_TRUE (encoder.start (juce::StringArray { "ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i",
                                                        wav.getFullPathName(), "-c:a", "libvorbis", "-q:a", "6",
                                                        ogg.getFullPathName() }));
        const auto output = encoder.readAllProcessOutput();
        ASSERT_TRUE (encoder.waitForProcessToFinish (60000));
        ASSERT_EQ (encoder.getExitCode(), 0u) << output;

        std::vector<int> wavOrder;
        for (int c = 0; c < channels; ++c)
            wavOrder.push_back (c);

        EXPECT_NE (toneOrder (oggReader (ogg)), wavOrder) << "the stream keeps Vorbis order";
        EXPECT_EQ (toneOrder (VorbisChannelOrderReader::inWavOrder (oggReader (ogg))), wavOrder);
    }
}

TEST (VorbisChannelOrder, ReadsSomeChannelsOnly)
{
    TemporaryFolder temp;
    const auto file = temp.file ("tones.ogg");
    ASSERT_TRUE (writeAudioFile (file, tones (6, 20000, 44100), 44100));

    auto reader = VorbisChannelOrderReader::inWavOrder (oggReader (file));
    ASSERT_NE (reader, nullptr);

    // The first three WAV channels only: front left, front right, centre.
    juce::AudioBuffer<float> buffer (3, 20000);
    ASSERT_TRUE (reader->read (&buffer, 0, 20000, 0, true, true));

    const auto frequencies = toneFrequencies (6);
    EXPECT_EQ (loudestOf (buffer, 0, 44100, frequencies), 0);
    EXPECT_EQ (loudestOf (buffer, 1, 44100, frequencies), 2);
    EXPECT_EQ (loudestOf (buffer, 2, 44100, frequencies), 1);
}

TEST (VorbisChannelOrder, OtherReadersAreLeftAlone)
{
    TemporaryFolder temp;
    const auto wav = temp.file ("six.wav"), ogg = temp.file ("six.ogg");
    ASSERT_TRUE (writeAudioFile (wav, tones (6, 5000, 44100), 44100));
    ASSERT_TRUE (writeAudioFile (ogg, tones (6, 5000, 44100), 44100));

    std::unique_ptr<juce::AudioFormatReader> wavReader (juce::WavAudioFormat().createReaderFor (wav.createInputStream().release(), true));
    ASSERT_NE (wavReader, nullptr);
    const auto* const wavAddress = wavReader.get();
    EXPECT_EQ (VorbisChannelOrderReader::inWavOrder (std::move (wavReader)).get(), wavAddress);

    // Put in order once only.
    auto once = VorbisChannelOrderReader::inWavOrder (oggReader (ogg));
    const auto* const onceAddress = once.get();
    auto twice = VorbisChannelOrderReader::inWavOrder (std::move (once));
    EXPECT_EQ (twice.get(), onceAddress);
    EXPECT_EQ (toneOrder (std::move (twice)), (std::vector<int> { 0, 2, 1, 5, 3, 4 }));

    EXPECT_EQ (VorbisChannelOrderReader::inWavOrder (nullptr), nullptr);
}

TEST (VorbisChannelOrder, WavFilesHoldingVorbisAreReadInWavOrder)
{
    TemporaryFolder temp;
    const auto ogg = temp.file ("tones.ogg");
    ASSERT_TRUE (writeAudioFile (ogg, tones (6, 20000, 44100), 44100));

    Bytes format;
    appendLE (format, 0x674f, 2);
    appendLE (format, 6, 2);
    appendLE (format, 44100, 4);
    appendLE (format, 40000, 4);
    appendLE (format, 1, 2);
    appendLE (format, 16, 2);
    appendLE (format, 0, 2);

    auto checked = check (wave ({ riffChunk ("fmt ", format), riffChunk ("data", load (ogg)) }));
    ASSERT_EQ (describe (checked.verdict), "readable");
    EXPECT_EQ (checked.reader->lengthInSamples, 20000);
    EXPECT_EQ (toneOrder (std::move (checked.reader)), (std::vector<int> { 0, 2, 1, 5, 3, 4 }));
}
