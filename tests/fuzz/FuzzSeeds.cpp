// Writes the first corpus of converter_fuzz: short files of every input format that the
// framework's writers make, and every sample file found in the folders given (such as a table of
// damaged inputs), each as a fuzz input (see FuzzInput.h).
//
//   fuzz_seeds <corpus folder> [<folder of sample files>...]

#include "FuzzInput.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <iostream>

namespace
{
    bool writeSeed (const juce::File& corpus, const juce::String& name, std::uint8_t selector, const juce::MemoryBlock& file)
    {
        juce::MemoryBlock seed (&selector, 1);
        seed.append (file.getData(), file.getSize());
        return corpus.getChildFile (juce::File::createLegalFileName (name)).replaceWithData (seed.getData(), seed.getSize());
    }

    juce::MemoryBlock encode (juce::AudioFormat& format, double rate, int channels, int bits)
    {
        constexpr int frames = 600;
        juce::AudioBuffer<float> samples (channels, frames);

        for (int channel = 0; channel < channels; ++channel)
            for (int i = 0; i < frames; ++i)
                samples.setSample (channel, i, 0.5f * (float) std::sin (0.05 * (channel + 1) * i));

        juce::MemoryBlock bytes;
        std::unique_ptr<juce::AudioFormatWriter> writer (format.createWriterFor (new juce::MemoryOutputStream (bytes, false), rate,
                                                                                 (unsigned int) channels, bits, {}, 0));
        if (writer == nullptr || ! writer->writeFromAudioSampleBuffer (samples, 0, frames))
            return {};

        writer.reset(); // finishes the header
        return bytes;
    }

    int writeEncodedSeeds (const juce::File& corpus)
    {
        juce::WavAudioFormat wav;
        juce::AiffAudioFormat aiff;
        juce::FlacAudioFormat flac;
        juce::OggVorbisAudioFormat ogg;

        struct Kind { juce::AudioFormat& format; const char* extension; int bits; };
        const Kind kinds[] { { wav, ".wav", 8 }, { wav, ".wav", 16 }, { wav, ".wav", 24 }, { wav, ".wav", 32 },
                             { aiff, ".aiff", 8 }, { aiff, ".aiff", 16 }, { aiff, ".aiff", 24 },
                             { flac, ".flac", 16 }, { flac, ".flac", 24 }, { ogg, ".ogg", 16 } };
        int written = 0;

        for (const auto& kind : kinds)
            for (const auto rate : { 22050.0, 44100.0, 48000.0 })
                for (const auto channels : { 1, 2, 6 })
                {
                    const auto bytes = encode (kind.format, rate, channels, kind.bits);
                    const auto name = juce::String (kind.extension).substring (1) + "-" + juce::String (kind.bits) + "bit-"
                                    + juce::String (channels) + "ch-" + juce::String ((int) rate);

                    if (bytes.isEmpty() || ! writeSeed (corpus, name, *quillon::fuzz::selectorFor (kind.extension), bytes))
                    {
                        std::cerr << "fuzz_seeds: cannot write the seed " << name << "\n";
                        return -1;
                    }

                    ++written;
                }

        return written;
    }

    int copySampleFiles (const juce::File& corpus, const juce::File& folder)
    {
        int copied = 0;

        for (const auto& entry : juce::RangedDirectoryIterator (folder, true, "*", juce::File::findFiles))
        {
            const auto& file = entry.getFile();
            juce::MemoryBlock bytes;

            if (const auto selector = quillon::fuzz::selectorFor (file.getFileExtension()))
            {
                if (! file.loadFileAsData (bytes) || ! writeSeed (corpus, "file-" + file.getRelativePathFrom (folder), *selector, bytes))
                {
                    std::cerr << "fuzz_seeds: cannot copy " << file.getFullPathName() << "\n";
                    return -1;
                }

                ++copied;
            }
        }

        return copied;
    }
}

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::cerr << "usage: fuzz_seeds <corpus folder> [<folder of sample files>...]\n";
        return 2;
    }

    const juce::File corpus { juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]) };

    if (! corpus.createDirectory())
    {
        std::cerr << "fuzz_seeds: cannot create " << corpus.getFullPathName() << "\n";
        return 1;
    }

    const auto encoded = writeEncodedSeeds (corpus);

    if (encoded < 0)
        return 1;

    std::cout << encoded << " encoded seeds";

    for (int i = 2; i < argc; ++i)
    {
        const juce::File folder { juce::File::getCurrentWorkingDirectory().getChildFile (argv[i]) };
        const auto copied = copySampleFiles (corpus, folder);

        if (copied < 0)
            return 1;

        std::cout << ", " << copied << " files from " << folder.getFullPathName();
    }

    std::cout << std::endl;
    return 0;
}
