#include "support/InputCases.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace quillon::test
{
    namespace
    {
        using Bytes = juce::MemoryBlock;

        constexpr int cdRate = 44100;
        constexpr int halfSecond = cdRate / 2;

        // A tone on every channel, each its own, at half level.
        const std::vector<double> stereoTones { 440.0, 660.0 };
        const std::vector<double> monoTone { 1000.0 };
        const std::vector<double> sixTones { 440.0, 660.0, 880.0, 1100.0, 1320.0, 1540.0 };

        juce::AudioBuffer<float> tones (const std::vector<double>& frequencies, int frames, int rate)
        {
            juce::AudioBuffer<float> buffer ((int) frequencies.size(), frames);

            for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
                for (int i = 0; i < frames; ++i)
                    buffer.setSample (channel, i, 0.5f * (float) std::sin (juce::MathConstants<double>::twoPi
                                                                          * frequencies[(size_t) channel] * i / rate));
            return buffer;
        }

        /** The buffer in the given format, written by the framework's writer. */
        Bytes encode (juce::AudioFormat&& format, const juce::AudioBuffer<float>& samples, int rate, int bits, int quality = 0)
        {
            Bytes bytes;
            auto stream = std::make_unique<juce::MemoryOutputStream> (bytes, false);
            std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (stream.get(), rate,
                                                                                     (unsigned int) samples.getNumChannels(),
                                                                                     bits, {}, quality));
            jassert (writer != nullptr);

            if (writer == nullptr)
                return {};

            stream.release(); // the writer owns it now
            writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples());
            writer.reset();
            return bytes;
        }

        Bytes concatenate (std::initializer_list<Bytes> parts)
        {
            Bytes result;

            for (const auto& part : parts)
                result.append (part.getData(), part.getSize());

            return result;
        }

        Bytes text (const char* characters)
        {
            return Bytes (characters, std::strlen (characters));
        }

        Bytes randomBytes (size_t size, juce::int64 seed)
        {
            Bytes bytes (size);
            juce::Random (seed).fillBitsRandomly (bytes.getData(), bytes.getSize());
            return bytes;
        }

        Bytes cut (const Bytes& bytes, size_t size)
        {
            return Bytes (bytes.getData(), juce::jmin (size, bytes.getSize()));
        }

        void put (Bytes& bytes, size_t at, std::uint64_t value, int numBytes, bool bigEndian)
        {
            for (int i = 0; i < numBytes; ++i)
            {
                const auto shift = 8 * (bigEndian ? numBytes - 1 - i : i);
                bytes[at + (size_t) i] = (char) ((value >> shift) & 0xff);
            }
        }

        Bytes number (std::uint64_t value, int numBytes, bool bigEndian)
        {
            Bytes bytes ((size_t) numBytes);
            put (bytes, 0, value, numBytes, bigEndian);
            return bytes;
        }

        /** Interleaved integer samples, left-justified in containers of the given bytes: a sample
            size below the container's leaves the low bits zero. */
        Bytes pcm (const juce::AudioBuffer<float>& samples, int sampleBits, int containerBytes, bool bigEndian)
        {
            Bytes bytes;
            const auto scale = std::ldexp (1.0, sampleBits - 1);

            for (int i = 0; i < samples.getNumSamples(); ++i)
                for (int channel = 0; channel < samples.getNumChannels(); ++channel)
                {
                    const auto value = (std::int64_t) juce::jlimit (-scale, scale - 1.0, std::round (samples.getSample (channel, i) * scale));
                    const auto justified = (std::uint64_t) (value * ((std::int64_t) 1 << (8 * containerBytes - sampleBits)));
                    bytes.append (number (justified, containerBytes, bigEndian).getData(), (size_t) containerBytes);
                }

            return bytes;
        }

        //==============================================================================
        // RIFF WAVE, little-endian.
        Bytes wavChunk (const char* id, const Bytes& body, bool padded = true)
        {
            auto chunk = concatenate ({ Bytes (id, 4), number (body.getSize(), 4, false), body });

            if (padded && (body.getSize() & 1) != 0)
                chunk.append ("", 1);

            return chunk;
        }

        Bytes riff (std::initializer_list<Bytes> chunks)
        {
            const auto body = concatenate (chunks);
            return concatenate ({ text ("RIFF"), number (4 + body.getSize(), 4, false), text ("WAVE"), body });
        }

        Bytes fmt (int channels, std::uint32_t rate, int bits, int containerBytes = 0)
        {
            const auto blockAlign = channels * (containerBytes > 0 ? containerBytes : bits / 8);
            return concatenate ({ number (1, 2, false), number ((std::uint64_t) channels, 2, false), number (rate, 4, false),
                                  number ((std::uint64_t) rate * (std::uint64_t) blockAlign, 4, false),
                                  number ((std::uint64_t) blockAlign, 2, false), number ((std::uint64_t) bits, 2, false) });
        }

        Bytes simpleWav (const juce::AudioBuffer<float>& samples, std::uint32_t rate)
        {
            return riff ({ wavChunk ("fmt ", fmt (samples.getNumChannels(), rate, 16)),
                           wavChunk ("data", pcm (samples, 16, 2, false)) });
        }

        //==============================================================================
        // AIFF and AIFF-C, big-endian.
        Bytes aiffChunk (const char* id, const Bytes& body)
        {
            auto chunk = concatenate ({ Bytes (id, 4), number (body.getSize(), 4, true), body });

            if ((body.getSize() & 1) != 0)
                chunk.append ("", 1);

            return chunk;
        }

        Bytes form (const char* type, std::initializer_list<Bytes> chunks)
        {
            const auto body = concatenate (chunks);
            return concatenate ({ text ("FORM"), number (4 + body.getSize(), 4, true), Bytes (type, 4), body });
        }

        // The 80-bit extended float of the rate.
        Bytes extended (double rate)
        {
            if (rate <= 0.0)
                return Bytes (10, true);

            const auto exponent = (int) std::floor (std::log2 (rate));
            const auto mantissa = (std::uint64_t) std::ldexp (rate, 63 - exponent);
            return concatenate ({ number ((std::uint64_t) (16383 + exponent), 2, true), number (mantissa, 8, true) });
        }

        Bytes comm (int channels, std::uint32_t frames, int sampleSize, double rate, const char* compression = nullptr)
        {
            auto body = concatenate ({ number ((std::uint64_t) channels, 2, true), number (frames, 4, true),
                                       number ((std::uint64_t) sampleSize, 2, true), extended (rate) });

            if (compression != nullptr)
                body = concatenate ({ body, Bytes (compression, 4), number (0, 1, true), number (0, 1, true) });

            return aiffChunk ("COMM", body);
        }

        Bytes ssnd (const Bytes& data)
        {
            return aiffChunk ("SSND", concatenate ({ number (0, 4, true), number (0, 4, true), data }));
        }

        //==============================================================================
        // FLAC: the stream info's total sample count, and where the frames start.
        void setFlacTotal (Bytes& bytes, std::uint64_t total)
        {
            bytes[21] = (char) ((bytes[21] & 0xf0) | (int) ((total >> 32) & 0x0f));
            put (bytes, 22, total & 0xffffffff, 4, true);
        }

        size_t flacFramesStart (const Bytes& bytes)
        {
            size_t at = 4;

            for (bool last = false; ! last && at + 4 <= bytes.getSize();)
            {
                last = (bytes[at] & 0x80) != 0;
                at += 4 + (((size_t) (std::uint8_t) bytes[at + 1] << 16) | ((size_t) (std::uint8_t) bytes[at + 2] << 8)
                           | (size_t) (std::uint8_t) bytes[at + 3]);
            }

            return at;
        }

        //==============================================================================
        // Ogg: pages carry a checksum, so that a changed page must be sealed again.
        size_t oggPageSize (const Bytes& bytes, size_t page)
        {
            const auto segments = (size_t) (std::uint8_t) bytes[page + 26];
            auto size = 27 + segments;

            for (size_t i = 0; i < segments; ++i)
                size += (std::uint8_t) bytes[page + 27 + i];

            return size;
        }

        void sealOggPage (Bytes& bytes, size_t page)
        {
            put (bytes, page + 22, 0, 4, false);
            std::uint32_t crc = 0;

            for (size_t i = 0; i < oggPageSize (bytes, page); ++i)
            {
                crc ^= (std::uint32_t) (std::uint8_t) bytes[page + i] << 24;

                for (int bit = 0; bit < 8; ++bit)
                    crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04c11db7u : crc << 1;
            }

            put (bytes, page + 22, crc, 4, false);
        }

        size_t lastOggPage (const Bytes& bytes)
        {
            const std::string data ((const char*) bytes.getData(), bytes.getSize());
            return data.rfind ("OggS");
        }

        Bytes withLastGranule (Bytes bytes, std::uint64_t granule)
        {
            const auto page = lastOggPage (bytes);
            put (bytes, page + 6, granule, 8, false);
            sealOggPage (bytes, page);
            return bytes;
        }

        // The identification header is the first page's packet: channels at 11, rate at 12.
        Bytes withVorbisHeaderField (Bytes bytes, size_t offset, std::uint32_t value, int numBytes)
        {
            const auto packet = 27 + (size_t) (std::uint8_t) bytes[26];
            put (bytes, packet + offset, value, numBytes, false);
            sealOggPage (bytes, 0);
            return bytes;
        }

        //==============================================================================
        // MP3, made by lame from a WAV file.
        Bytes mp3 (const juce::AudioBuffer<float>& samples, int rate)
        {
            juce::TemporaryFile wav (".wav"), encoded (".mp3");
            const auto source = simpleWav (samples, (std::uint32_t) rate);

            if (! wav.getFile().replaceWithData (source.getData(), source.getSize()))
                return {};

            juce::ChildProcess lame;

            if (! lame.start (juce::StringArray { "lame", "--quiet", "-b", "128", "--noreplaygain", "--tt", "Test tone",
                                                  wav.getFile().getFullPathName(), encoded.getFile().getFullPathName() })
                || ! lame.waitForProcessToFinish (60000) || lame.getExitCode() != 0)
                return {};

            Bytes bytes;
            encoded.getFile().loadFileAsData (bytes);
            return bytes;
        }

        //==============================================================================
        /** Converted with the given frames and, on each channel, the given tone. */
        InputCase converted (const char* name, const char* extension, Bytes bytes, juce::int64 frames,
                             std::vector<double> channelTones, juce::int64 tolerance = 0)
        {
            InputCase c;
            c.name = name;
            c.extension = extension;
            c.bytes = std::move (bytes);
            c.frames = frames;
            c.channels = (int) channelTones.size();
            c.tones = std::move (channelTones);
            c.framesTolerance = tolerance;
            return c;
        }

        /** Converted with the given frames and channels, too short for a tone. */
        InputCase convertedSilently (const char* name, const char* extension, Bytes bytes, juce::int64 frames, int channels)
        {
            auto c = converted (name, extension, std::move (bytes), frames, {});
            c.channels = channels;
            return c;
        }

        InputCase refused (const char* name, const char* extension, Bytes bytes)
        {
            InputCase c;
            c.name = name;
            c.extension = extension;
            c.bytes = std::move (bytes);
            c.refused = true;
            return c;
        }
    }

    juce::int64 convertedFrames (juce::int64 frames, int rate)
    {
        if (rate == cdRate)
            return frames;

        return juce::jmax ((juce::int64) ((float) frames * ((float) cdRate / (float) rate)), juce::jmin (frames, (juce::int64) 1));
    }

    std::vector<InputCase> makeInputCases()
    {
        std::vector<InputCase> cases;
        const auto add = [&cases] (InputCase c) { cases.push_back (std::move (c)); };

        const auto stereo = tones (stereoTones, halfSecond, cdRate);
        const auto mono = tones (monoTone, halfSecond, cdRate);

        //==============================================================================
        // Ordinary files of every format.
        add (converted ("wav_16bit_stereo", ".wav", encode (juce::WavAudioFormat(), stereo, cdRate, 16), halfSecond, stereoTones));
        add (converted ("wav_24bit_mono_48000", ".wav", encode (juce::WavAudioFormat(), tones (monoTone, 24000, 48000), 48000, 24),
                        convertedFrames (24000, 48000), monoTone));
        add (converted ("wav_float_stereo_96000", ".wav", encode (juce::WavAudioFormat(), tones (stereoTones, 48000, 96000), 96000, 32),
                        convertedFrames (48000, 96000), stereoTones));
        add (converted ("wav_8bit_mono_22050", ".wav", encode (juce::WavAudioFormat(), tones (monoTone, 11025, 22050), 22050, 8),
                        convertedFrames (11025, 22050), monoTone));
        add (converted ("wav_16bit_mono_8000", ".bwf", encode (juce::WavAudioFormat(), tones (monoTone, 4000, 8000), 8000, 16),
                        convertedFrames (4000, 8000), monoTone));
        add (converted ("wav_six_channels", ".wav", encode (juce::WavAudioFormat(), tones (sixTones, halfSecond, cdRate), cdRate, 24),
                        halfSecond, sixTones));
        add (converted ("aiff_16bit_stereo", ".aiff", encode (juce::AiffAudioFormat(), stereo, cdRate, 16), halfSecond, stereoTones));
        add (converted ("aiff_24bit_mono_32000", ".aif", encode (juce::AiffAudioFormat(), tones (monoTone, 16000, 32000), 32000, 24),
                        convertedFrames (16000, 32000), monoTone));
        add (converted ("aifc_little_endian", ".aif",
                        form ("AIFC", { aiffChunk ("FVER", number (0xa2805140, 4, true)),
                                        comm (2, halfSecond, 16, cdRate, "sowt"),
                                        ssnd (pcm (stereo, 16, 2, false)) }),
                        halfSecond, stereoTones));
        add (converted ("flac_16bit_stereo", ".flac", encode (juce::FlacAudioFormat(), stereo, cdRate, 16), halfSecond, stereoTones));
        add (converted ("flac_24bit_mono_96000", ".flac", encode (juce::FlacAudioFormat(), tones (monoTone, 48000, 96000), 96000, 24),
                        convertedFrames (48000, 96000), monoTone));
        add (converted ("ogg_stereo_48000", ".ogg", encode (juce::OggVorbisAudioFormat(), tones (stereoTones, 24000, 48000), 48000, 16, 5),
                        convertedFrames (24000, 48000), stereoTones));
        add (converted ("ogg_mono", ".ogg", encode (juce::OggVorbisAudioFormat(), mono, cdRate, 16, 5), halfSecond, monoTone));

        // MP3 decoders differ in how much of the encoder's delay and padding they keep.
        add (converted ("mp3_stereo", ".mp3", mp3 (stereo, cdRate), halfSecond, stereoTones, 2 * 1152));

        // Samples at the ends of what is usual: one sample (less than one at 44100 Hz, but not
        // nothing), none, a chunk of metadata, bytes after the data, a FLAC file named .wav.
        add (convertedSilently ("wav_one_sample_48000", ".wav", simpleWav (tones (monoTone, 1, 48000), 48000), 1, 1));
        add (convertedSilently ("wav_no_samples", ".wav", simpleWav (juce::AudioBuffer<float> (2, 0), cdRate), 0, 2));
        add (converted ("wav_with_metadata_chunks", ".wav",
                        riff ({ wavChunk ("fmt ", fmt (2, cdRate, 16)),
                                wavChunk ("LIST", concatenate ({ text ("INFO"), wavChunk ("INAM", text ("Kick 01")) })),
                                wavChunk ("cue ", concatenate ({ number (1, 4, false), Bytes (24, true) })),
                                wavChunk ("data", pcm (stereo, 16, 2, false)),
                                wavChunk ("smpl", Bytes (36, true)) }),
                        halfSecond, stereoTones));
        add (converted ("wav_trailing_bytes", ".wav", concatenate ({ simpleWav (stereo, cdRate), randomBytes (777, 1) }),
                        halfSecond, stereoTones));
        add (converted ("flac_named_wav", ".wav", encode (juce::FlacAudioFormat(), stereo, cdRate, 16), halfSecond, stereoTones));

        //==============================================================================
        // WAV and AIFF layouts that are legal but unusual, and damaged ones.

        // 12-bit samples in 2-byte containers, left-justified: read as the container's size.
        add (converted ("wav_12bit_in_16", ".wav",
                        riff ({ wavChunk ("fmt ", fmt (1, cdRate, 12, 2)), wavChunk ("data", pcm (mono, 12, 2, false)) }),
                        halfSecond, monoTone));
        add (converted ("aiff_12bit_in_16", ".aiff",
                        form ("AIFF", { comm (1, halfSecond, 12, cdRate), ssnd (pcm (mono, 12, 2, true)) }),
                        halfSecond, monoTone));

        add (converted ("wav_data_before_fmt", ".wav",
                        riff ({ wavChunk ("data", pcm (stereo, 16, 2, false)), wavChunk ("fmt ", fmt (2, cdRate, 16)) }),
                        halfSecond, stereoTones));
        add (converted ("wav_empty_chunk_before_data", ".wav",
                        riff ({ wavChunk ("fmt ", fmt (2, cdRate, 16)), wavChunk ("fake", {}), wavChunk ("data", pcm (stereo, 16, 2, false)) }),
                        halfSecond, stereoTones));
        add (converted ("aiff_frame_count_above_2_31", ".aiff",
                        form ("AIFF", { comm (2, 0x80000000u + halfSecond, 16, cdRate), ssnd (pcm (stereo, 16, 2, true)) }),
                        halfSecond, stereoTones));

        // An odd-sized chunk whose pad byte is missing: the data chunk is not where it should be.
        add (refused ("wav_odd_chunk_without_pad", ".wav",
                      riff ({ wavChunk ("fmt ", fmt (2, cdRate, 16)), wavChunk ("note", text ("odd"), false),
                              wavChunk ("data", pcm (stereo, 16, 2, false)) })));
        add (refused ("aiff_sample_size_0", ".aiff", form ("AIFF", { comm (2, halfSecond, 0, cdRate), ssnd (pcm (stereo, 16, 2, true)) })));
        add (refused ("aiff_sample_size_32767", ".aiff", form ("AIFF", { comm (2, halfSecond, 32767, cdRate), ssnd (pcm (stereo, 16, 2, true)) })));
        add (refused ("aiff_without_sound_data", ".aiff", form ("AIFF", { comm (2, halfSecond, 16, cdRate) })));
        add (refused ("aiff_cut_inside_header", ".aiff",
                      cut (form ("AIFF", { comm (2, halfSecond, 16, cdRate), ssnd (pcm (stereo, 16, 2, true)) }), 30)));

        // Headers that overstate their length: what the file holds is converted.
        {
            auto overstated = simpleWav (stereo, cdRate);
            put (overstated, 40, 0x7ffffff0, 4, false);
            add (converted ("wav_overstated_data_size", ".wav", overstated, halfSecond, stereoTones));

            add (converted ("wav_cut_inside_a_frame", ".wav", cut (simpleWav (stereo, cdRate), 44 + 4 * 10000 + 3),
                            10000, stereoTones));

            add (converted ("aiff_overstated_lengths", ".aiff",
                            form ("AIFF", { comm (2, 0x7ffffff0, 16, cdRate),
                                            concatenate ({ text ("SSND"), number (0x7ffffff0, 4, true), Bytes (8, true),
                                                           pcm (stereo, 16, 2, true) }) }),
                            halfSecond, stereoTones));
        }

        // Formats that hold nothing that can be played.
        add (refused ("wav_zero_channels", ".wav", riff ({ wavChunk ("fmt ", fmt (0, cdRate, 16)), wavChunk ("data", pcm (stereo, 16, 2, false)) })));
        add (refused ("wav_rate_0", ".wav", riff ({ wavChunk ("fmt ", fmt (2, 0, 16)), wavChunk ("data", pcm (stereo, 16, 2, false)) })));
        add (refused ("aiff_zero_channels", ".aiff", form ("AIFF", { comm (0, halfSecond, 16, cdRate), ssnd (pcm (stereo, 16, 2, true)) })));
        add (refused ("aiff_rate_0", ".aiff", form ("AIFF", { comm (2, halfSecond, 16, 0.0), ssnd (pcm (stereo, 16, 2, true)) })));

        // A rate whose resampling would need gigabytes, in a 20 KB file.
        add (refused ("wav_rate_2147483647", ".wav", simpleWav (tones (monoTone, 10000, cdRate), 2147483647u)));

        // A rate whose resampling would make hours of every second, and the slowest one taken.
        add (refused ("wav_rate_2", ".wav", simpleWav (tones (monoTone, 10000, cdRate), 2u)));
        add (convertedSilently ("wav_rate_1379", ".wav", simpleWav (tones (monoTone, 1000, cdRate), 1379u), convertedFrames (1000, 1379), 1));

        //==============================================================================
        // FLAC and Ogg Vorbis: the length is what decodes, whatever the header says.
        const auto flac = encode (juce::FlacAudioFormat(), stereo, cdRate, 16);
        const auto audioStart = flacFramesStart (flac);

        add (refused ("flac_cut_after_metadata", ".flac", cut (flac, audioStart)));
        add (refused ("flac_random_audio", ".flac", concatenate ({ cut (flac, audioStart), randomBytes (flac.getSize() - audioStart, 2) })));

        for (const auto& [name, claim] : { std::pair<const char*, std::uint64_t> { "flac_claims_100000000", 100000000 },
                                           std::pair<const char*, std::uint64_t> { "flac_claims_beyond_2_32", ((std::uint64_t) 1 << 32) + 5 },
                                           std::pair<const char*, std::uint64_t> { "flac_claims_fewer", 1000 },
                                           std::pair<const char*, std::uint64_t> { "flac_length_unknown", 0 } })
        {
            auto bytes = flac;
            setFlacTotal (bytes, claim);
            add (converted (name, ".flac", bytes, halfSecond, stereoTones));
        }

        // Cut in the middle of its frames: the whole frames before the cut.
        add (converted ("flac_cut_in_half", ".flac", cut (flac, audioStart + (flac.getSize() - audioStart) / 2),
                        halfSecond / 2, stereoTones, 4608));

        // Frames of another format than the stream info gives: the framework's reader takes the
        // stream info's channels and sample size for every frame.
        const auto withFramesOf = [&] (const Bytes& other)
        {
            const auto start = flacFramesStart (other);
            return concatenate ({ cut (flac, audioStart), Bytes (other.begin() + start, other.getSize() - start) });
        };

        add (refused ("flac_mono_frames_stereo_info", ".flac", withFramesOf (encode (juce::FlacAudioFormat(), mono, cdRate, 16))));
        add (refused ("flac_6_channel_frames_stereo_info", ".flac",
                      withFramesOf (encode (juce::FlacAudioFormat(), tones (sixTones, halfSecond, cdRate), cdRate, 16))));
        add (refused ("flac_24bit_frames_16bit_info", ".flac", withFramesOf (encode (juce::FlacAudioFormat(), stereo, cdRate, 24))));
        add (refused ("flac_48000_frames_44100_info", ".flac",
                      withFramesOf (encode (juce::FlacAudioFormat(), tones (stereoTones, halfSecond, 48000), 48000, 16))));

        // The last page's position, which cuts the encoder's padding off the end, claims more: the
        // padding stays, but nothing beyond it.
        const auto ogg = encode (juce::OggVorbisAudioFormat(), stereo, cdRate, 16, 5);
        add (converted ("ogg_claims_more", ".ogg", withLastGranule (ogg, 100000000), halfSecond, stereoTones, 2048));
        add (converted ("ogg_claims_beyond_2_32", ".ogg", withLastGranule (ogg, ((std::uint64_t) 1 << 32) + 5), halfSecond, stereoTones, 2048));
        add (refused ("ogg_zero_channels", ".ogg", withVorbisHeaderField (ogg, 11, 0, 1)));
        add (refused ("ogg_rate_0", ".ogg", withVorbisHeaderField (ogg, 12, 0, 4)));

        // Chained streams, one after the other in a file (each encoding has a serial number of
        // its own): read whole when every part has the first part's channels and rate.
        const auto secondOgg = encode (juce::OggVorbisAudioFormat(), stereo, cdRate, 16, 5);
        add (converted ("ogg_chained", ".ogg", concatenate ({ ogg, secondOgg }), 2 * halfSecond, stereoTones, 4096));
        add (refused ("ogg_chained_mono_after_stereo", ".ogg",
                      concatenate ({ ogg, encode (juce::OggVorbisAudioFormat(), mono, cdRate, 16, 5) })));
        add (refused ("ogg_chained_48000_after_44100", ".ogg",
                      concatenate ({ ogg, encode (juce::OggVorbisAudioFormat(), tones (stereoTones, halfSecond, 48000), 48000, 16, 5) })));
        add (refused ("ogg_chained_second_header_damaged", ".ogg", concatenate ({ ogg, withVorbisHeaderField (secondOgg, 11, 0, 1) })));
        add (refused ("ogg_chained_third_header_damaged", ".ogg",
                      concatenate ({ ogg, secondOgg, withVorbisHeaderField (encode (juce::OggVorbisAudioFormat(), stereo, cdRate, 16, 5), 11, 0, 1) })));

        // 5.1 in Vorbis order (L, C, R, BL, BR, LFE) comes out in WAV order (L, R, C, LFE, BL, BR).
        const std::vector<double> vorbisOrder { 440.0, 880.0, 660.0, 1320.0, 1540.0, 110.0 };
        add (converted ("ogg_5_1", ".ogg", encode (juce::OggVorbisAudioFormat(), tones (vorbisOrder, halfSecond, cdRate), cdRate, 16, 5),
                        halfSecond, { 440.0, 660.0, 880.0, 110.0, 1320.0, 1540.0 }));

        //==============================================================================
        // Nothing that any decoder should read.
        add (refused ("empty_wav", ".wav", {}));
        add (refused ("empty_aiff", ".aiff", {}));
        add (refused ("empty_flac", ".flac", {}));
        add (refused ("empty_ogg", ".ogg", {}));
        add (refused ("empty_mp3", ".mp3", {}));
        add (refused ("wav_header_only", ".wav", cut (simpleWav (stereo, cdRate), 12)));
        add (refused ("text_named_wav", ".wav", text ("These are the notes for the kit, not audio.\n")));
        add (refused ("random_bytes_ogg", ".ogg", randomBytes (16384, 3)));
        add (refused ("random_bytes_mp3", ".mp3", randomBytes (16384, 4)));
        add (refused ("mp3_named_wav", ".wav", mp3 (stereo, cdRate)));

        return cases;
    }
}
