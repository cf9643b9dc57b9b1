#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

/** What checkPcmFile() made of a file. */
struct PcmFileCheck
{
    enum class Verdict
    {
        notWavOrAiff, ///< not a RIFF/RF64 WAVE or an AIFF/AIFC file: `stream` is handed back where it was
        refused,      ///< a WAV or AIFF file whose audio cannot be read as it stands; the stream is released
        readable      ///< `reader` reads the file's audio and owns the stream
    };

    Verdict verdict = Verdict::notWavOrAiff;
    std::unique_ptr<juce::AudioFormatReader> reader;
    std::unique_ptr<juce::InputStream> stream;
};

/** Opens a WAV or AIFF file with the framework's readers after checking its chunk layout.

    The framework's readers trust a file's header: a chunk of length zero, a data chunk ahead of
    its format chunk, a sample size that is not a whole number of bytes, a frame count beyond
    2^31 or beyond the end of the file, or a header cut short make them read nothing, garbage,
    uninitialised memory or past the file, and some chunk lists keep them reading for ever. So
    the chunks are walked here, and the reader is given a plain header of its own in front of the
    file's sample bytes: it decodes exactly the whole frames that the file holds, with the file's
    rate, channels and sample format. Samples whose size is not a whole number of bytes are read
    in their containers, where they sit left-justified (12 bits as 16, 20 as 24).

    Refused: a chunk header that is not one (a missing pad byte after an odd-sized chunk), no
    format or sound chunk, either cut short, a sample format the framework cannot decode (packed
    samples, compressed WAV or AIFC, floats other than 32-bit), and a header that claims frames
    of which the file holds not one. An empty data chunk is a readable file without frames.

    The stream must be seekable, with its length known; its positions are those of the file (a
    null stream is not a WAV or AIFF file). A WAV file holding an Ogg Vorbis stream is read with
    the Ogg Vorbis reader, its channels in WAV order. The framework's readers see no metadata
    chunks, so the reader has no metadata. */
PcmFileCheck checkPcmFile (std::unique_ptr<juce::InputStream> stream);
