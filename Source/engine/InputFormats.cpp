#include "engine/InputFormats.h"

#include "engine/Mpg123AudioFormat.h"
#include "engine/PcmFileCheck.h"
#include "engine/VorbisChannelOrder.h"

#include <FLAC/stream_decoder.h>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <climits>

void registerInputFormats (juce::AudioFormatManager& manager)
{
    manager.registerFormat (new juce::WavAudioFormat(), false);
    manager.registerFormat (new juce::AiffAudioFormat(), false);
    manager.registerFormat (new juce::FlacAudioFormat(), false);
    manager.registerFormat (new juce::OggVorbisAudioFormat(), false);
   #if JUCE_MAC
    manager.registerFormat (new juce::CoreAudioFormat(), false);
   #else
    manager.registerFormat (new Mpg123AudioFormat(), false);
   #endif
}

bool formatSuitsFile ([[maybe_unused]] juce::AudioFormat& format, [[maybe_unused]] const juce::File& file)
{
   #if JUCE_MAC
    return true;
   #else
    return dynamic_cast<Mpg123AudioFormat*> (&format) == nullptr || format.canHandleFile (file);
   #endif
}

namespace
{
    // What a measuring step returns for a file that must be refused.
    constexpr juce::int64 refused = -1;

    //==============================================================================
    /** Decodes a whole FLAC stream to count the samples it really gives: its header may claim any
        number, and the framework's reader keeps only the low 32 bits of the claim and pads what
        does not decode with silence. Frames that fail their checksum are given as silence by the
        decoder; a stream in which no frame is intact holds no audio. A frame whose channels,
        sample size or rate differ from the stream info's refuses the file: the framework's
        reader reads every frame as the stream info describes it, beyond the frame's channels. */
    class FlacCount
    {
    public:
        static juce::int64 framesIn (juce::InputStream& stream)
        {
            FlacCount count (stream);
            auto* const decoder = FLAC__stream_decoder_new();

            if (decoder == nullptr)
                return refused;

            if (FLAC__stream_decoder_init_stream (decoder, read, seek, tell, length, eof, write, metadata, error, &count)
                == FLAC__STREAM_DECODER_INIT_STATUS_OK)
            {
                FLAC__stream_decoder_process_until_end_of_stream (decoder);
            }

            FLAC__stream_decoder_delete (decoder);

            if (count.foreignFrame)
                return refused;

            if (count.intactFrames > 0)
                return count.frames;

            return count.info.total_samples > 0 || count.frames > 0 ? refused : 0;
        }

    private:
        explicit FlacCount (juce::InputStream& source) : stream (source) {}

        static FlacCount& from (void* data) { return *static_cast<FlacCount*> (data); }

        static FLAC__StreamDecoderReadStatus read (const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data)
        {
            *bytes = (size_t) from (data).stream.read (buffer, (int) juce::jmin (*bytes, (size_t) INT_MAX));

            // The stream gives nothing only at its end, after a failed read or when stopped.
            return *bytes > 0 ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
        }

        static FLAC__StreamDecoderSeekStatus seek (const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data)
        {
            return offset <= (FLAC__uint64) LLONG_MAX && from (data).stream.setPosition ((juce::int64) offset)
                       ? FLAC__STREAM_DECODER_SEEK_STATUS_OK : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        }

        static FLAC__StreamDecoderTellStatus tell (const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data)
        {
            *offset = (FLAC__uint64) from (data).stream.getPosition();
            return FLAC__STREAM_DECODER_TELL_STATUS_OK;
        }

        static FLAC__StreamDecoderLengthStatus length (const FLAC__StreamDecoder*, FLAC__uint64* streamLength, void* data)
        {
            *streamLength = (FLAC__uint64) from (data).stream.getTotalLength();
            return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
        }

        static FLAC__bool eof (const FLAC__StreamDecoder*, void* data)
        {
            return from (data).stream.isExhausted();
        }

        static FLAC__StreamDecoderWriteStatus write (const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                     const FLAC__int32* const[], void* data)
        {
            auto& count = from (data);
            const auto& header = frame->header;

            if (header.channels != count.info.channels || header.bits_per_sample != count.info.bits_per_sample
                || header.sample_rate != count.info.sample_rate)
            {
                count.foreignFrame = true;
                return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
            }

            count.frames += header.blocksize;

            if (! count.frameDamaged)
                ++count.intactFrames;

            count.frameDamaged = false;
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        }

        static void metadata (const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* data)
        {
            if (block->type == FLAC__METADATA_TYPE_STREAMINFO)
                from (data).info = block->data.stream_info;
        }

        static void error (const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data)
        {
            if (status == FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH)
                from (data).frameDamaged = true;
        }

        juce::InputStream& stream;
        FLAC__StreamMetadata_StreamInfo info {};
        juce::int64 frames = 0;
        juce::int64 intactFrames = 0;
        bool frameDamaged = false;
        bool foreignFrame = false;
    };

    //==============================================================================
    /** Decodes a whole Ogg Vorbis stream to count the samples it really gives; its length is
        otherwise read from the last page's position, which a damaged file can set to anything.
        Chained streams whose parts differ in channels or rate are refused: the framework's
        reader takes every part as the first. */
    class VorbisCount
    {
    public:
        static juce::int64 framesIn (juce::InputStream& stream)
        {
            OggVorbis_File file;

            if (ov_open_callbacks (&stream, &file, nullptr, 0, { read, seek, nullptr, tell }) != 0)
                return refused;

            const auto result = count (file);
            ov_clear (&file);
            return result;
        }

    private:
        static juce::int64 count (OggVorbis_File& file)
        {
            const auto* const first = ov_info (&file, 0);

            for (int link = 1; link < ov_streams (&file); ++link)
            {
                const auto* const info = ov_info (&file, link);

                if (first == nullptr || info == nullptr || info->channels != first->channels || info->rate != first->rate)
                    return refused;
            }

            // Opening a chained stream can leave the decoder at the start of its last part, where
            // the framework's reader, finding itself past sample 0, seeks back.
            if (ov_pcm_tell (&file) != 0 && ov_pcm_seek (&file, 0) != 0)
                return refused;

            juce::int64 frames = 0;

            for (;;)
            {
                float** samples = nullptr;
                int link = 0;
                const auto got = ov_read_float (&file, &samples, 4096, &link);

                if (got > 0)
                    frames += got;
                else if (got != OV_HOLE)
                    break;
            }

            return frames == 0 && ov_pcm_total (&file, -1) > 0 ? refused : frames;
        }

        static juce::InputStream& from (void* data) { return *static_cast<juce::InputStream*> (data); }

        static size_t read (void* destination, size_t size, size_t count, void* data)
        {
            if (size == 0)
                return 0;

            const auto bytes = juce::jmin (size * count, (size_t) INT_MAX);
            return (size_t) from (data).read (destination, (int) bytes) / size;
        }

        static int seek (void* data, ogg_int64_t offset, int whence)
        {
            auto& stream = from (data);

            if (whence == SEEK_CUR)
                offset += stream.getPosition();
            else if (whence == SEEK_END)
                offset += stream.getTotalLength();

            return stream.setPosition (offset) ? 0 : -1;
        }

        static long tell (void* data)
        {
            return (long) from (data).getPosition();
        }
    };

    //==============================================================================
    /** The reader of the first input format that suits the file and reads the stream, which it
        then owns; the stream is released when none does. */
    std::unique_ptr<juce::AudioFormatReader> createReader (std::unique_ptr<juce::InputStream> stream, const juce::File& file)
    {
        juce::AudioFormatManager formats;
        registerInputFormats (formats);
        const auto start = stream->getPosition();

        for (auto* format : formats)
        {
            if (! formatSuitsFile (*format, file))
                continue;

            if (std::unique_ptr<juce::AudioFormatReader> reader { format->createReaderFor (stream.get(), false) })
            {
                stream.release(); // the reader owns it now
                return reader;
            }

            stream->setPosition (start);
        }

        return {};
    }

    /** The frames that the opened file really holds, or `refused`. */
    juce::int64 measure (juce::AudioFormatReader& reader, const SafeFileInputStream& fileStream)
    {
        const auto format = reader.getFormatName();
        const auto isFlac = format == juce::FlacAudioFormat().getFormatName();

        if (isFlac || format == juce::OggVorbisAudioFormat().getFormatName())
        {
            // A second descriptor on the same file, so that the count leaves the reader's position alone.
            const auto copy = fileStream.duplicate();

            if (copy == nullptr)
                return refused;

            return isFlac ? FlacCount::framesIn (*copy) : VorbisCount::framesIn (*copy);
        }

        return juce::jmax ((juce::int64) 0, reader.lengthInSamples);
    }
}

std::unique_ptr<juce::AudioFormatReader> openInputFile (const juce::File& file, ReadControl& control)
{
    auto fileStream = std::make_unique<SafeFileInputStream> (file, control);

    if (! fileStream->openedOk())
        return {};

    const auto& openedFile = *fileStream;
    auto pcm = checkPcmFile (std::move (fileStream));
    std::unique_ptr<juce::AudioFormatReader> reader;

    if (pcm.verdict == PcmFileCheck::Verdict::refused)
        return {};

    if (pcm.verdict == PcmFileCheck::Verdict::readable)
    {
        // The check has already cut the length of WAV and AIFF samples to the frames that the
        // file holds; Ogg Vorbis inside a WAV file keeps the length that its last page gives.
        reader = std::move (pcm.reader);
    }
    else
    {
        reader = createReader (std::move (pcm.stream), file);

        if (reader == nullptr)
            return {};

        const auto claimed = reader->lengthInSamples;
        const auto held = measure (*reader, openedFile);

        // A header that claims audio of which nothing can be read belongs to a damaged file.
        if (held == refused || (held == 0 && claimed > 0))
            return {};

        reader->lengthInSamples = held;
    }

    if (reader->numChannels == 0 || reader->numChannels > maxInputChannels)
        return {};

    return VorbisChannelOrderReader::inWavOrder (std::move (reader));
}
