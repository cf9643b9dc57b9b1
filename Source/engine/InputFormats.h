#pragma once

#include "engine/SafeFileInputStream.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

/** Registers the five input formats with a manager, in the order in which they are tried:
    WAV, AIFF, FLAC, Ogg Vorbis, then the platform's audio-file service. None becomes the
    default format; the manager owns them.

    Linux has no system audio-file service, so an MP3 reader over libmpg123 stands in as the
    fifth format. */
void registerInputFormats (juce::AudioFormatManager& manager);

/** False when the format is not to be tried on the file: the MP3 reader that stands in for the
    platform's service reads only files that carry its extension, since stray frame headers turn
    up in all kinds of bytes. */
bool formatSuitsFile (juce::AudioFormat& format, const juce::File& file);

/** The most channels an input may have: the framework's channel layouts name no more discrete
    channels, and no recording comes close. */
inline constexpr unsigned int maxInputChannels = 128;

/** Opens an input file for conversion: the reader of the first input format that reads it, with
    the length that the file really holds rather than the one its header claims. Null when the
    file cannot be opened, no input format reads it, or it claims audio of which nothing can be
    read. Every read goes through a SafeFileInputStream under the given control, now and later. */
std::unique_ptr<juce::AudioFormatReader> openInputFile (const juce::File& file, ReadControl& control);
