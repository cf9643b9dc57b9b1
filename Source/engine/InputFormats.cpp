#include "engine/InputFormats.h"

void registerInputFormats (juce::AudioFormatManager& manager)
{
    manager.registerFormat (new juce::WavAudioFormat(), false);
    manager.registerFormat (new juce::AiffAudioFormat(), false);
    manager.registerFormat (new juce::FlacAudioFormat(), false);
    manager.registerFormat (new juce::OggVorbisAudioFormat(), false);
   #if JUCE_MAC
    manager.registerFormat (new juce::CoreAudioFormat(), false);
   #else
    manager.registerFormat (new juce::MP3AudioFormat(), false);
   #endif
}

bool readerSuitsFile ([[maybe_unused]] const juce::AudioFormatReader& reader, [[maybe_unused]] const juce::File& file)
{
   #if JUCE_MAC
    return true;
   #else
    const juce::MP3AudioFormat mp3;
    return reader.getFormatName() != mp3.getFormatName()
        || file.hasFileExtension (mp3.getFileExtensions().joinIntoString (";"));
   #endif
}
