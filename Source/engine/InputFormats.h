#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

/** Registers the five input formats with a manager, in the order in which they are tried:
    WAV, AIFF, FLAC, Ogg Vorbis, then the platform's audio-file service. None becomes the
    default format; the manager owns them.

    Linux has no system audio-file service, so the MP3 decoder stands in as the fifth format. */
void registerInputFormats (juce::AudioFormatManager& manager);

/** False when a reader that the manager found does not suit the file. The MP3 decoder that stands
    in for the platform's service finds frames in almost any bytes (a damaged WAV file, a picture),
    so it reads only files that carry its extension. */
bool readerSuitsFile (const juce::AudioFormatReader& reader, const juce::File& file);
