#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include <unistd.h>

namespace quillon::test
{
    bool pumpUntil (const std::function<bool()>& condition, int timeoutMs)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() >= deadline)
                return condition();

            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        return true;
    }

    void pumpFor (int milliseconds)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

    bool runTool (const juce::StringArray& command, int timeoutMs)
    {
        juce::ChildProcess process;
        return process.start (command, 0)
            && process.waitForProcessToFinish (timeoutMs)
            && process.getExitCode() == 0;
    }

    void writeScript (const juce::File& file, const juce::String& text)
    {
        ASSERT_TRUE (file.replaceWithText (text, false, false, "\n"));
        ASSERT_TRUE (file.setExecutePermission (true));
    }

    TemporaryFolder::TemporaryFolder()
        : folder (juce::File::createTempFile ("quillon-test"))
    {
        folder.createDirectory();
    }

    TemporaryFolder::~TemporaryFolder()
    {
        // Tests may leave read-only entries behind.
        for (const auto& entry : folder.findChildFiles (juce::File::findFilesAndDirectories, true, "*",
                                                       juce::File::FollowSymlinks::no))
            entry.setReadOnly (false, false);

        folder.deleteRecursively();
    }

    juce::File TemporaryFolder::createFile (const juce::String& relativePath, const juce::String& content) const
    {
        const auto result = file (relativePath);
        result.getParentDirectory().createDirectory();
        result.replaceWithText (content);
        return result;
    }

    bool writeAudioFile (const juce::File& file, const juce::AudioBuffer<float>& samples,
                         double sampleRate, int bitsPerSample)
    {
        std::unique_ptr<juce::AudioFormat> format;
        const auto extension = file.getFileExtension().toLowerCase();

        if (extension == ".wav")                              format = std::make_unique<juce::WavAudioFormat>();
        else if (extension == ".aiff" || extension == ".aif") format = std::make_unique<juce::AiffAudioFormat>();
        else if (extension == ".flac")                        format = std::make_unique<juce::FlacAudioFormat>();
        else if (extension == ".ogg")                         format = std::make_unique<juce::OggVorbisAudioFormat>();
        else                                                  return false;

        file.deleteFile();
        auto stream = file.createOutputStream();

        if (stream == nullptr)
            return false;

        const int quality = extension == ".ogg" ? 5 : 0;
        std::unique_ptr<juce::AudioFormatWriter> writer (format->createWriterFor (stream.get(), sampleRate,
                                                                                  (unsigned int) samples.getNumChannels(),
                                                                                  bitsPerSample, {}, quality));
        if (writer == nullptr)
            return false;

        stream.release(); // the writer owns it now
        return writer->writeFromAudioSampleBuffer (samples, 0, samples.getNumSamples());
    }

    bool writeSparseWave (const juce::File& file, int rate, int channels, juce::int64 dataBytes)
    {
        juce::MemoryOutputStream out;
        out.write ("RIFF", 4);
        out.writeInt ((int) (std::uint32_t) juce::jmin ((juce::int64) 0xffffffff, 36 + dataBytes));
        out.write ("WAVEfmt ", 8);
        out.writeInt (16);
        out.writeShort (1);
        out.writeShort ((short) channels);
        out.writeInt (rate);
        out.writeInt (rate * channels);
        out.writeShort ((short) channels);
        out.writeShort (8);
        out.write ("data", 4);
        out.writeInt ((int) (std::uint32_t) dataBytes);

        return file.replaceWithData (out.getData(), out.getDataSize())
            && ::truncate (file.getFullPathName().toRawUTF8(), (off_t) (out.getDataSize() + (size_t) dataBytes)) == 0;
    }

    bool encodeMp3 (const juce::File& wav, const juce::File& mp3, const juce::StringArray& lameOptions)
    {
        juce::StringArray command { "lame", "--quiet" };
        command.addArray (lameOptions);
        command.add (wav.getFullPathName());
        command.add (mp3.getFullPathName());

        mp3.deleteFile();
        juce::ChildProcess lame;

        if (! lame.start (command))
            return false;

        lame.readAllProcessOutput();
        return lame.waitForProcessToFinish (60000) && lame.getExitCode() == 0 && mp3.existsAsFile();
    }

    juce::AudioBuffer<float> makeSine (int channels, int samples, double sampleRate, double frequency, float level)
    {
        juce::AudioBuffer<float> buffer (channels, samples);

        for (int i = 0; i < samples; ++i)
        {
            const auto value = level * (float) std::sin (juce::MathConstants<double>::twoPi * frequency * i / sampleRate);

            for (int c = 0; c < channels; ++c)
                buffer.setSample (c, i, value);
        }

        return buffer;
    }
}
