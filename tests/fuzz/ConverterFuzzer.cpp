// libFuzzer target over the reading path. Every input becomes a sample file (see FuzzInput.h) that
// the real FileConverter converts into a WAV file. Refusing the file with one of the converter's
// own exceptions is a correct answer; a crash, a sanitizer report, any other exception, a hang, an
// allocation beyond the limit or a "converted" file that is not a 44100 Hz 16-bit WAV is a fault.
//
//   converter_fuzz [libFuzzer options] <corpus folder>...   fuzz
//   converter_fuzz <input>...                               run saved inputs again

#include "engine/FileConverter.h"

#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>

namespace
{
    /** A folder of this process's own (libFuzzer may run several), removed at exit. */
    struct WorkFolder
    {
        WorkFolder()
        {
            if (! folder.createDirectory())
                fail ("cannot create " + folder.getFullPathName());
        }

        ~WorkFolder() { folder.deleteRecursively(); }

        [[noreturn]] static void fail (const juce::String& message)
        {
            std::fprintf (stderr, "converter_fuzz: %s\n", message.toRawUTF8());
            std::abort();
        }

        const juce::File folder { juce::File::getSpecialLocation (juce::File::tempDirectory)
                                      .getChildFile ("quillon-fuzz-" + juce::Uuid().toString()) };
    };

    void checkConvertedFile (const juce::File& output)
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (output.createInputStream().release(), true));

        if (reader == nullptr || reader->sampleRate != 44100.0 || reader->bitsPerSample != 16 || reader->usesFloatingPointData)
            WorkFolder::fail ("the converter returned normally but its output is not a 44100 Hz 16-bit WAV file");
    }
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    static const WorkFolder work;

    if (size == 0)
        return -1; // no selector: not worth keeping

    auto input = work.folder.getChildFile ("input" + quillon::fuzz::extensionFor (data[0]));
    auto output = work.folder.getChildFile ("output.wav");

    // Writing no bytes removes the file: the converter then meets a missing input.
    if (! input.replaceWithData (data + 1, size - 1))
        WorkFolder::fail ("cannot write " + input.getFullPathName());

    FileConverter converter (nullptr);

    try
    {
        converter.convertFile (input, output, 44100, 16);
        checkConvertedFile (output);
    }
    catch (const InputFileInvalid&) {}
    catch (const NewSampleTooLarge&) {}
    catch (const FileWriteException&) {}

    output.deleteFile();
    return 0;
}
