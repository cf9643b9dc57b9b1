// The table of damaged and unusual inputs (support/InputCases), through the converter one file at
// a time and through one whole run of the controller with every file in its queue.

#include "engine/ConverterController.h"
#include "engine/FileConverter.h"
#include "support/InputCases.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

using quillon::test::InputCase;
using quillon::test::TemporaryFolder;
using quillon::test::makeInputCases;
using quillon::test::pumpUntil;

namespace
{
    juce::File writeInput (const TemporaryFolder& temp, const InputCase& c)
    {
        const auto file = temp.file (c.name + c.extension);
        EXPECT_TRUE (c.bytes.isEmpty() ? file.create().wasOk() : file.replaceWithData (c.bytes.getData(), c.bytes.getSize()));
        return file;
    }

    std::uint32_t readLE (const juce::MemoryBlock& bytes, size_t at, int numBytes)
    {
        std::uint32_t value = 0;

        for (int i = numBytes; --i >= 0;)
            value = (value << 8) | (std::uint8_t) bytes[at + (size_t) i];

        return value;
    }

    // The frequency of the tone on one channel, from its rising zero crossings; 0 without two.
    double toneOf (const juce::AudioBuffer<float>& samples, int channel)
    {
        const auto* x = samples.getReadPointer (channel);
        double first = -1.0, last = -1.0;
        int crossings = 0;

        for (int i = 0; i + 1 < samples.getNumSamples(); ++i)
        {
            if (x[i] < 0.0f && x[i + 1] >= 0.0f)
            {
                const auto at = i + (double) x[i] / (double) (x[i] - x[i + 1]);
                first = first < 0.0 ? at : first;
                last = at;
                ++crossings;
            }
        }

        return crossings > 1 ? (crossings - 1) * 44100.0 / (last - first) : 0.0;
    }

    /** A standard 44100 Hz 16-bit PCM WAV file with the case's frames and channels, carrying its
        tones in its channels' order. */
    void expectConverted (const juce::File& output, const InputCase& c)
    {
        juce::MemoryBlock bytes;
        ASSERT_TRUE (output.loadFileAsData (bytes)) << "no output";
        ASSERT_GE (bytes.getSize(), (size_t) 44);
        EXPECT_EQ (std::string ((const char*) bytes.getData(), 4), "RIFF");
        EXPECT_EQ (std::string ((const char*) bytes.getData() + 8, 4), "WAVE");
        EXPECT_EQ (readLE (bytes, 4, 4), bytes.getSize() - 8);

        // Chunks: the format, the samples and nothing else but the writer's padding.
        std::vector<std::string> chunks;

        for (size_t at = 12; at + 8 <= bytes.getSize();)
        {
            const auto size = (size_t) readLE (bytes, at + 4, 4);
            chunks.emplace_back ((const char*) bytes.getData() + at, 4);

            if (chunks.back() == "data" && c.framesTolerance == 0)
            {
                EXPECT_EQ (size, (size_t) (c.frames * c.channels * 2));
            }

            at += 8 + size + (size & 1);
        }

        for (const auto& chunk : chunks)
            EXPECT_TRUE (chunk == "fmt " || chunk == "data" || chunk == "JUNK") << chunk;

        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (new juce::MemoryInputStream (bytes, false), true));
        ASSERT_NE (reader, nullptr);
        EXPECT_EQ (reader->sampleRate, 44100.0);
        EXPECT_EQ (reader->bitsPerSample, 16u);
        EXPECT_FALSE (reader->usesFloatingPointData);
        EXPECT_EQ ((int) reader->numChannels, c.channels);
        EXPECT_NEAR ((double) reader->lengthInSamples, (double) c.frames, (double) c.framesTolerance);

        if (c.tones.empty() || (int) reader->numChannels != c.channels)
            return;

        juce::AudioBuffer<float> samples (c.channels, (int) reader->lengthInSamples);
        reader->read (&samples, 0, samples.getNumSamples(), 0, true, true);

        for (int channel = 0; channel < c.channels; ++channel)
        {
            const auto expected = c.tones[(size_t) channel];
            EXPECT_NEAR (toneOf (samples, channel), expected, expected * 0.02) << "channel " << channel;
            // Half level is 0.354; lossy coding, a low-frequency channel above all, moves it a little.
            const auto level = samples.getRMSLevel (channel, 0, samples.getNumSamples());
            EXPECT_TRUE (level > 0.25f && level < 0.45f) << "channel " << channel << " at " << level;
        }
    }

    void expectConvertedOrRefusedAlone (const InputCase& c)
    {
        TemporaryFolder temp;
        auto input = writeInput (temp, c);
        auto output = temp.file ("converted/OUT.wav");
        ASSERT_TRUE (output.getParentDirectory().createDirectory());

        FileConverter converter (nullptr);
        std::string outcome = "converted";

        try
        {
            converter.convertFile (input, output, 44100, 16);
        }
        catch (const InputFileInvalid&)
        {
            outcome = "refused";
        }
        catch (const std::exception& e)
        {
            outcome = e.what();
        }

        if (c.refused)
        {
            EXPECT_EQ (outcome, "refused");
            EXPECT_EQ (output.getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
        }
        else
        {
            EXPECT_EQ (outcome, "converted");
            expectConverted (output, c);
        }
    }
}

//==============================================================================
// One process for the whole table: building it (encoders included) costs more than converting it.
TEST (DamagedInput, EachCaseIsConvertedOrRefusedByTheConverter)
{
    const auto cases = makeInputCases();
    ASSERT_FALSE (cases.empty());

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name + c.extension);
        expectConvertedOrRefusedAlone (c);
    }
}

//==============================================================================
namespace
{
    struct RunRecorder : ConverterController::Listener
    {
        void progressChanged (double) override {}
        void errorOccured (juce::String message) override          { errors.add (message); }
        void fileExistsError (juce::String path) override           { existing.add (path); }
        void FileConverted (juce::String name) override             { converted.add (name); }

        void progressStatusUpdate (ConverterController::StatusUpdate status) override
        {
            finished = finished || status == ConverterController::conversionFinished;
        }

        juce::StringArray errors, existing, converted;
        bool finished = false;
    };
}

TEST (DamagedInputRun, EveryCaseInOneQueue)
{
    const auto cases = makeInputCases();
    TemporaryFolder temp;
    const auto outputs = temp.file ("out");
    ASSERT_TRUE (outputs.createDirectory());

    FileQueue::Ptr queue (new FileQueue());
    ConverterController::Ptr controller (new ConverterController (queue));
    RunRecorder recorder;
    controller->addListener (&recorder);
    ASSERT_TRUE (controller->SetFolder (outputs.getFullPathName()));

    // Output names of their own: many of the cases' names share their first eight characters.
    std::vector<juce::File> inputs;

    for (size_t i = 0; i < cases.size(); ++i)
    {
        inputs.push_back (writeInput (temp, cases[i]));
        queue->addFile (inputs.back());
        queue->changeNewFileName ((int) i, "C" + juce::String (i).paddedLeft ('0', 3));
    }

    ASSERT_EQ (queue->size(), (int) cases.size()) << "every case is a file that the queue takes";

    controller->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([&] { return recorder.finished; }, 240000));

    EXPECT_TRUE (recorder.existing.isEmpty());

    for (size_t i = 0; i < cases.size(); ++i)
    {
        const auto& c = cases[i];
        SCOPED_TRACE (c.name.toStdString());
        const auto outputName = "C" + juce::String (i).paddedLeft ('0', 3) + ".wav";
        const auto errorLine = "Error: " + inputs[i].getFullPathName() + "\ncan not be opened";

        if (c.refused)
        {
            EXPECT_TRUE (recorder.errors.contains (errorLine));
            EXPECT_FALSE (recorder.converted.contains (outputName));
            EXPECT_FALSE (outputs.getChildFile (outputName).exists());
        }
        else
        {
            EXPECT_TRUE (recorder.converted.contains (outputName));
            EXPECT_FALSE (recorder.errors.contains (errorLine));
            expectConverted (outputs.getChildFile (outputName), c);
        }
    }

    // Nothing but the outputs of the converted cases.
    const auto convertedCases = std::count_if (cases.begin(), cases.end(), [] (const InputCase& c) { return ! c.refused; });
    EXPECT_EQ (outputs.getNumberOfChildFiles (juce::File::findFilesAndDirectories), (int) convertedCases);
}
