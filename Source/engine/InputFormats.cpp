#include "InputFormats.h"

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
