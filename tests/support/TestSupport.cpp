#include "TestSupport.h"

#include <cmath>

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
