#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/** Registers the five input formats with a manager, in the order in which they are tried:
    WAV, AIFF, FLAC, Ogg Vorbis, then the platform's audio-file service. None becomes the
    default format; the manager owns them.

    Linux has no system audio-file service, so the MP3 decoder stands in as the fifth format. */
void registerInputFormats (juce::AudioFormatManager& manager);
