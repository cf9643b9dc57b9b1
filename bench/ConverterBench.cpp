// Conversion benchmark: a batch of inputs in mixed formats, rates, channel counts and lengths,
// converted to 44100 Hz 16-bit WAV files. Prints files per second, MB (10^6 bytes) of output
// per second and the peak resident memory of the process.
//
//   quillon_bench [--mode <name>]                      generate a batch in a temporary folder, convert it
//   quillon_bench generate <folder>                    write the batch only
//   quillon_bench run <folder> <output> [--mode <name>]  convert every file of a batch
//
// Modes: "converter" (each file through one FileConverter on the main thread, the default) and
// "controller" (a whole run through ConverterController and its worker thread).

#include "engine/ConverterController.h"
#include "engine/FileConverter.h"

#include <cmath>
#include <functional>
#include <iostream>
#include <map>

#include <sys/resource.h>

namespace
{
    struct BatchFormat
    {
        const char* extension;
        int bitsPerSample;
        int quality;
    };

    constexpr BatchFormat batchFormats[] { { "wav", 24, 0 }, { "aiff", 16, 0 }, { "flac", 16, 0 }, { "ogg", 16, 5 } };
    constexpr int batchRates[] { 22050, 32000, 48000, 88200, 96000 };
    constexpr int batchChannels[] { 1, 2 };
    constexpr double batchSeconds[] { 0.5, 10.0 };

    std::unique_ptr<juce::AudioFormat> formatFor (const juce::String& extension)
    {
        if (extension == "wav")  return std::make_unique<juce::WavAudioFormat>();
        if (extension == "aiff") return std::make_unique<juce::AiffAudioFormat>();
        if (extension == "flac") return std::make_unique<juce::FlacAudioFormat>();
        return std::make_unique<juce::OggVorbisAudioFormat>();
    }

    /** Two tones and a little noise, written block by block so that generating stays small. */
    bool writeInput (const juce::File& file, const BatchFormat& format, int rate, int channels, double seconds)
    {
        std::unique_ptr<juce::OutputStream> stream (file.createOutputStream());

        if (stream == nullptr)
            return false;

        std::unique_ptr<juce::AudioFormatWriter> writer (formatFor (format.extension)->createWriterFor (
            stream.get(), rate, (unsigned int) channels, format.bitsPerSample, {}, format.quality));

        if (writer == nullptr)
            return false;

        stream.release(); // the writer owns it now

        juce::Random random (rate + channels);
        juce::AudioBuffer<float> block (channels, 16384);
        const auto total = (juce::int64) (seconds * rate);

        for (juce::int64 start = 0; start < total; start += block.getNumSamples())
        {
            const auto count = (int) juce::jmin ((juce::int64) block.getNumSamples(), total - start);

            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < count; ++i)
                {
                    const auto t = (double) (start + i) / rate;
                    block.setSample (c, i, (float) (0.4 * std::sin (juce::MathConstants<double>::twoPi * (220.0 + 110.0 * c) * t)
                                                    + 0.2 * std::sin (juce::MathConstants<double>::twoPi * 3520.0 * t))
                                               + 0.05f * (random.nextFloat() - 0.5f));
                }

            if (! writer->writeFromAudioSampleBuffer (block, 0, count))
                return false;
        }

        return true;
    }

    bool generateBatch (const juce::File& folder)
    {
        if (! folder.createDirectory())
            return false;

        for (const auto& format : batchFormats)
            for (const auto rate : batchRates)
                for (const auto channels : batchChannels)
                    for (const auto seconds : batchSeconds)
                    {
                        // Eight characters that differ from file to file, so the names stay
                        // unique as output names too: format, rate, mono/stereo, short/long.
                        const auto name = juce::String::charToString ((juce::juce_wchar) format.extension[0]) + juce::String (rate)
                                        + (channels == 1 ? "m" : "s") + (seconds < 1.0 ? "s" : "l") + "." + format.extension;

                        if (! writeInput (folder.getChildFile (name), format, rate, channels, seconds))
                        {
                            std::cerr << "cannot write " << name << "\n";
                            return false;
                        }
                    }

        return true;
    }

    //==============================================================================
    struct RunResult
    {
        int files = 0;
        int failures = 0;
        juce::int64 outputBytes = 0;
    };

    using Mode = std::function<RunResult (const juce::Array<juce::File>& inputs, const juce::File& outputFolder)>;

    /** Each input through one FileConverter on this thread, as the controller's worker does. */
    RunResult runConverter (const juce::Array<juce::File>& inputs, const juce::File& outputFolder)
    {
        RunResult result;
        FileConverter converter (nullptr);

        for (auto input : inputs)
        {
            auto output = outputFolder.getChildFile (input.getFileNameWithoutExtension() + ".wav");

            try
            {
                converter.convertFile (input, output, 44100, 16);
                result.outputBytes += output.getSize();
            }
            catch (const std::exception& e)
            {
                std::cerr << input.getFileName() << ": " << e.what() << "\n";
                ++result.failures;
            }

            ++result.files;
        }

        return result;
    }

    /** The whole batch as one run of a ConverterController, as the application makes it: its
        worker thread, its notifiers and this thread's message loop. */
    RunResult runController (const juce::Array<juce::File>& inputs, const juce::File& outputFolder)
    {
        struct RunListener : ConverterController::Listener
        {
            explicit RunListener (ConverterController& c) : controller (c) {}

            void progressChanged (double) override {}
            void errorOccured (juce::String message) override { std::cerr << message << "\n"; ++failures; }
            void FileConverted (juce::String name) override   { converted.add (name); }

            void progressStatusUpdate (ConverterController::StatusUpdate status) override
            {
                finished = finished || status == ConverterController::conversionFinished;
            }

            // Like the per-file mode, replace what an earlier run left.
            void fileExistsError (juce::String) override { controller.resume (ConverterController::overwriteAll); }

            ConverterController& controller;
            juce::StringArray converted;
            int failures = 0;
            bool finished = false;
        };

        // Pushed as they are, so the outputs carry the same names as in the per-file mode.
        const FileQueue::Ptr queue { new FileQueue() };

        for (const auto& input : inputs)
            queue->push ({ input.getFullPathName(), input.getFileNameWithoutExtension() });

        const ConverterController::Ptr controller { new ConverterController (queue) };
        RunListener listener (*controller);
        controller->addListener (&listener);

        if (! controller->SetFolder (outputFolder.getFullPathName()))
            return { inputs.size(), inputs.size(), 0 };

        controller->ConvertFilesInQueue();

        while (! listener.finished)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);

        RunResult result { listener.converted.size() + listener.failures, listener.failures, 0 };

        for (const auto& name : listener.converted)
            result.outputBytes += outputFolder.getChildFile (name).getSize();

        return result;
    }

    const std::map<juce::String, Mode> modes { { "converter", runConverter }, { "controller", runController } };

    long peakMemoryKilobytes()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    }

    int run (const juce::File& batch, const juce::File& outputFolder, const juce::String& modeName)
    {
        const auto mode = modes.find (modeName);

        if (mode == modes.end())
        {
            std::cerr << "unknown mode " << modeName << "\n";
            return 2;
        }

        auto inputs = batch.findChildFiles (juce::File::findFiles, false);
        inputs.sort();

        if (inputs.isEmpty() || ! outputFolder.createDirectory())
        {
            std::cerr << "no batch in " << batch.getFullPathName() << " or no output folder\n";
            return 2;
        }

        const auto start = juce::Time::getMillisecondCounterHiRes();
        const auto result = mode->second (inputs, outputFolder);
        const auto seconds = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
        const auto megabytes = (double) result.outputBytes / 1.0e6;

        std::cout << "mode " << modeName << ": " << result.files << " files (" << result.failures << " failed), "
                  << megabytes << " MB written in " << seconds << " s\n"
                  << "  " << result.files / seconds << " files/s, " << megabytes / seconds << " MB/s, peak memory "
                  << (double) peakMemoryKilobytes() / 1024.0 << " MiB\n"
                  << "result files=" << result.files << " failures=" << result.failures << " seconds=" << seconds
                  << " output_bytes=" << result.outputBytes << " peak_kb=" << peakMemoryKilobytes() << std::endl;

        return result.failures == 0 ? 0 : 1;
    }
}

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);

    juce::String modeName ("converter");

    if (const auto at = args.indexOf ("--mode"); at >= 0 && at + 1 < args.size())
    {
        modeName = args[at + 1];
        args.removeRange (at, 2);
    }

    const auto folderArgument = [] (const juce::String& path) { return juce::File::getCurrentWorkingDirectory().getChildFile (path); };

    if (args.size() == 2 && args[0] == "generate")
        return generateBatch (folderArgument (args[1])) ? 0 : 1;

    if (args.size() == 3 && args[0] == "run")
        return run (folderArgument (args[1]), folderArgument (args[2]), modeName);

    if (args.isEmpty())
    {
        const juce::TemporaryFile temp;
        const auto root = temp.getFile();
        const auto status = generateBatch (root.getChildFile ("batch")) ? run (root.getChildFile ("batch"), root.getChildFile ("out"), modeName) : 1;
        root.deleteRecursively();
        return status;
    }

    std::cerr << "usage: quillon_bench [--mode <name>] | generate <folder> | run <folder> <output> [--mode <name>]\n";
    return 2;
}
