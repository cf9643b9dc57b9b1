#include "engine/PcmFileCheck.h"

#include "engine/InputFormats.h"
#include "engine/VorbisChannelOrder.h"

#include <cstring>
#include <optional>

namespace
{
    using juce::int64;
    using juce::uint32;

    // The framework's WAV and AIFF readers decode through a buffer of this many bytes and read
    // no frame at all (for ever) when one frame is larger.
    constexpr int largestFrame = 480 * 3 * 4;

    // The framework's readers take these 32-bit fields as signed numbers.
    constexpr uint32 largestSignedField = 0x7fffffff;

    //==============================================================================
    /** A four-character chunk identifier. */
    struct ChunkId
    {
        char bytes[4] {};

        bool operator== (const char* name) const noexcept   { return std::memcmp (bytes, name, 4) == 0; }

        // Identifiers are printable ASCII; anything else is not a chunk header (a missing pad
        // byte after an odd-sized chunk puts every later header one byte off).
        bool isValid() const noexcept
        {
            for (const auto c : bytes)
                if (c < 0x20 || c > 0x7e)
                    return false;

            return true;
        }
    };

    /** The file's bytes, read only where they exist. */
    class FileBytes
    {
    public:
        explicit FileBytes (juce::InputStream& s) : length (s.getTotalLength()), stream (s) {}

        /** Reads the bytes at the position; false when the file ends before them. */
        bool read (int64 position, void* destination, int numBytes)
        {
            return position >= 0 && position + numBytes <= length
                && stream.setPosition (position)
                && stream.read (destination, numBytes) == numBytes;
        }

        const int64 length;

    private:
        juce::InputStream& stream;
    };

    struct ChunkHeader
    {
        ChunkId id;
        int64 size = 0;
    };

    /** Where the samples are and how the framework's reader is to see them. */
    struct SampleLayout
    {
        enum class Kind { wav, aiff, oggVorbisInWav };

        Kind kind = Kind::wav;
        juce::MemoryBlock header; // the plain header the reader sees in front of the samples
        int64 dataStart = 0, dataBytes = 0;
        int64 frames = 0;
    };

    using Scan = std::optional<SampleLayout>; // empty: the file is refused

    enum class Container { none, wave, rf64, aiff, aifc };

    Container identify (FileBytes& bytes)
    {
        ChunkId form, type;

        if (! (bytes.read (0, form.bytes, 4) && bytes.read (8, type.bytes, 4)))
            return Container::none;

        if (type == "WAVE")
            return form == "RIFF" ? Container::wave : form == "RF64" ? Container::rf64 : Container::none;

        if (form == "FORM")
            return type == "AIFF" ? Container::aiff : type == "AIFC" ? Container::aifc : Container::none;

        return Container::none;
    }

    //==============================================================================
    /** Walks a RIFF or IFF chunk list from the first chunk header after the form type, calling
        `visit` with each chunk until it returns true. Chunks are padded to an even length. The
        walk fails at a header that is not one, or at the end of the file. */
    template <typename Visit>
    bool walkChunks (FileBytes& bytes, bool bigEndian, const char* const (&needed)[2], Visit&& visit)
    {
        for (int64 position = 12;;)
        {
            char raw[8];

            if (! bytes.read (position, raw, 8))
                return false;

            ChunkHeader chunk;
            std::memcpy (chunk.id.bytes, raw, 4);
            chunk.size = bigEndian ? (int64) (uint32) juce::ByteOrder::bigEndianInt (raw + 4)
                                   : (int64) (uint32) juce::ByteOrder::littleEndianInt (raw + 4);

            if (! chunk.id.isValid())
                return false;

            const auto body = position + 8;
            const auto stop = visit (chunk, body);

            if (stop)
                return true;

            const auto end = body + chunk.size;

            // A chunk that we still need right behind an odd-sized one: its pad byte is missing.
            if ((chunk.size & 1) != 0)
            {
                ChunkId next;

                if (bytes.read (end, next.bytes, 4) && (next == needed[0] || next == needed[1]))
                    return false;
            }

            position = end + (chunk.size & 1);
        }
    }

    /** Bits of a sample's container: a sample size that is not a whole number of bytes sits
        left-justified in the next whole number of bytes. */
    int containerBits (int bits) noexcept   { return (bits + 7) / 8 * 8; }

    /** The claimed frames that the file holds; none at all when it holds not one of them, which
        makes a damaged file. */
    std::optional<int64> framesHeld (FileBytes& bytes, int64 dataStart, int64 claimedFrames, int bytesPerFrame)
    {
        const auto held = juce::jmin (claimedFrames, juce::jmax ((int64) 0, bytes.length - dataStart) / bytesPerFrame);

        if (held == 0 && claimedFrames > 0)
            return {};

        return held;
    }

    //==============================================================================
    // The subformats of WAVE_FORMAT_EXTENSIBLE that the framework reads, as stored in the file.
    constexpr unsigned char pcmSubformat[16]       { 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 };
    constexpr unsigned char floatSubformat[16]     { 3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71 };
    constexpr unsigned char ambisonicSubformat[16] { 1, 0, 0, 0, 0x21, 0x07, 0xd3, 0x11, 0x86, 0x44, 0xc8, 0xc1, 0xca, 0, 0, 0 };

    constexpr int wavePcm = 1, waveFloat = 3, waveExtensible = 0xfffe;

    bool isOggVorbisInWav (int formatTag) noexcept
    {
        return (formatTag >= 0x674f && formatTag <= 0x6751) || (formatTag >= 0x676f && formatTag <= 0x6771);
    }

    struct WaveFormat
    {
        int tag = 0, channels = 0, blockAlign = 0, bits = 0, validBits = 0;
        uint32 rate = 0, channelMask = 0;
        unsigned char subformat[16] {};
    };

    juce::MemoryBlock waveHeader (const WaveFormat& format, int bitsInContainer, int64 frames)
    {
        const auto extensible = format.tag == waveExtensible;
        const auto blockAlign = format.channels * bitsInContainer / 8;
        const auto fmtSize = extensible ? 40 : 16;
        const auto headerSize = 12 + 8 + fmtSize + 8;
        const auto dataSize = (uint32) juce::jmin ((int64) frames * blockAlign,
                                                   (int64) (0xffffffffu - (uint32) headerSize) / blockAlign * blockAlign);

        juce::MemoryOutputStream out;
        out.write ("RIFF", 4);
        out.writeInt ((int) (dataSize + (uint32) headerSize - 8));
        out.write ("WAVEfmt ", 8);
        out.writeInt (fmtSize);
        out.writeShort ((short) format.tag);
        out.writeShort ((short) format.channels);
        out.writeInt ((int) format.rate);
        out.writeInt ((int) (uint32) juce::jmin ((juce::uint64) format.rate * (juce::uint64) blockAlign, (juce::uint64) 0xffffffffu));
        out.writeShort ((short) blockAlign);
        out.writeShort ((short) bitsInContainer);

        if (extensible)
        {
            out.writeShort (22);
            out.writeShort ((short) juce::jmin (format.validBits, bitsInContainer));
            out.writeInt ((int) format.channelMask);
            out.write (format.subformat, sizeof (format.subformat));
        }

        out.write ("data", 4);
        out.writeInt ((int) dataSize);
        return out.getMemoryBlock();
    }

    Scan scanWave (FileBytes& bytes, bool rf64)
    {
        std::optional<int64> dataSize64;

        if (rf64)
        {
            // RF64 keeps the data chunk's 64-bit size in a ds64 chunk that comes first.
            unsigned char ds64[8 + 16];

            if (! bytes.read (12, ds64, sizeof (ds64))
                 || std::memcmp (ds64, "ds64", 4) != 0
                 || (uint32) juce::ByteOrder::littleEndianInt (ds64 + 4) < 28)
                return {};

            dataSize64 = (int64) juce::ByteOrder::littleEndianInt64 (ds64 + 16);

            if (*dataSize64 < 0)
                return {};
        }

        std::optional<WaveFormat> format;
        bool formatDamaged = false;
        std::optional<ChunkHeader> data;
        int64 dataStart = 0;

        const bool complete = walkChunks (bytes, false, { "fmt ", "data" }, [&] (const ChunkHeader& chunk, int64 body)
        {
            if (chunk.id == "fmt " && ! format)
            {
                unsigned char fmt[40] {};
                const auto size = (int) juce::jmin ((int64) sizeof (fmt), chunk.size);

                if (size < 16 || ! bytes.read (body, fmt, size))
                {
                    formatDamaged = true;
                    return true;
                }

                WaveFormat f;
                f.tag        = juce::ByteOrder::littleEndianShort (fmt);
                f.channels   = juce::ByteOrder::littleEndianShort (fmt + 2);
                f.rate       = (uint32) juce::ByteOrder::littleEndianInt (fmt + 4);
                f.blockAlign = juce::ByteOrder::littleEndianShort (fmt + 12);
                f.bits       = juce::ByteOrder::littleEndianShort (fmt + 14);

                if (f.tag == waveExtensible)
                {
                    if (size < 40)
                    {
                        formatDamaged = true;
                        return true;
                    }

                    f.validBits   = juce::ByteOrder::littleEndianShort (fmt + 18);
                    f.channelMask = (uint32) juce::ByteOrder::littleEndianInt (fmt + 20);
                    std::memcpy (f.subformat, fmt + 24, sizeof (f.subformat));
                }

                format = f;
            }
            else if (chunk.id == "data" && ! data)
            {
                data = chunk;
                dataStart = body;

                if (dataSize64 && chunk.size == 0xffffffff)
                    data->size = *dataSize64;
            }

            return formatDamaged || (format && data);
        });

        if (! complete || formatDamaged || ! format || ! data)
            return {};

        SampleLayout layout;
        layout.dataStart = dataStart;

        if (isOggVorbisInWav (format->tag))
        {
            layout.kind = SampleLayout::Kind::oggVorbisInWav;
            layout.dataBytes = juce::jmin (data->size, juce::jmax ((int64) 0, bytes.length - dataStart));
            return layout;
        }

        auto sampleTag = format->tag;

        if (sampleTag == waveExtensible)
        {
            if (std::memcmp (format->subformat, floatSubformat, 16) == 0)
                sampleTag = waveFloat;
            else if (std::memcmp (format->subformat, pcmSubformat, 16) == 0
                      || std::memcmp (format->subformat, ambisonicSubformat, 16) == 0)
                sampleTag = wavePcm;
        }

        const auto readable = (sampleTag == wavePcm && format->bits >= 1 && format->bits <= 32)
                           || (sampleTag == waveFloat && format->bits == 32);

        if (! readable)
            return {};

        const auto bits = containerBits (format->bits);
        const auto bytesPerFrame = format->channels * bits / 8;

        // The declared frame size only matters where samples are not whole bytes: it must show
        // them in whole-byte containers rather than packed.
        if (bytesPerFrame == 0 || bytesPerFrame > largestFrame || format->channels > (int) maxInputChannels
             || (format->bits % 8 != 0 && format->blockAlign != bytesPerFrame))
            return {};

        const auto held = framesHeld (bytes, dataStart, data->size / bytesPerFrame, bytesPerFrame);

        if (! held)
            return {};

        layout.frames = *held;
        layout.dataBytes = layout.frames * bytesPerFrame;
        layout.header = waveHeader (*format, bits, layout.frames);
        return layout;
    }

    //==============================================================================
    struct AiffFormat
    {
        int channels = 0, bits = 0;
        uint32 frames = 0;
        unsigned char rate[10] {}; // 80-bit extended, passed on as it stands
        ChunkId compression { { 'N', 'O', 'N', 'E' } };
    };

    juce::MemoryBlock aiffHeader (const AiffFormat& format, bool aifc, int bitsInContainer, int64 frames)
    {
        const auto bytesPerFrame = format.channels * bitsInContainer / 8;
        const auto commSize = aifc ? 24 : 18;
        const auto headerSize = 12 + 8 + commSize + 16;
        const auto dataSize = (int) juce::jmin ((int64) frames * bytesPerFrame,
                                                (int64) (largestSignedField - (uint32) headerSize) / bytesPerFrame * bytesPerFrame);

        juce::MemoryOutputStream out;
        out.write ("FORM", 4);
        out.writeIntBigEndian (dataSize + headerSize - 8);
        out.write (aifc ? "AIFCCOMM" : "AIFFCOMM", 8);
        out.writeIntBigEndian (commSize);
        out.writeShortBigEndian ((short) format.channels);
        out.writeIntBigEndian ((int) juce::jmin ((int64) largestSignedField, frames));
        out.writeShortBigEndian ((short) bitsInContainer);
        out.write (format.rate, sizeof (format.rate));

        if (aifc)
        {
            out.write (format.compression.bytes, 4);
            out.writeShort (0); // an empty name, padded to an even length
        }

        out.write ("SSND", 4);
        out.writeIntBigEndian (dataSize + 8);
        out.writeInt64 (0); // no offset, no block size
        return out.getMemoryBlock();
    }

    Scan scanAiff (FileBytes& bytes, bool aifc)
    {
        std::optional<AiffFormat> format;
        std::optional<ChunkHeader> sound;
        int64 soundBody = 0;
        bool damaged = false;

        const bool complete = walkChunks (bytes, true, { "COMM", "SSND" }, [&] (const ChunkHeader& chunk, int64 body)
        {
            if (chunk.id == "COMM" && ! format)
            {
                unsigned char comm[22];
                const auto size = (int) juce::jmin ((int64) (aifc ? 22 : 18), chunk.size);

                if (size < 18 || ! bytes.read (body, comm, size))
                {
                    damaged = true;
                    return true;
                }

                AiffFormat f;
                f.channels = (short) juce::ByteOrder::bigEndianShort (comm);
                f.frames   = (uint32) juce::ByteOrder::bigEndianInt (comm + 2);
                f.bits     = (short) juce::ByteOrder::bigEndianShort (comm + 6);
                std::memcpy (f.rate, comm + 8, sizeof (f.rate));

                if (size == 22)
                    std::memcpy (f.compression.bytes, comm + 18, 4);

                format = f;
            }
            else if (chunk.id == "SSND" && ! sound)
            {
                sound = chunk;
                soundBody = body;
            }

            return damaged || (format && sound);
        });

        if (! complete || damaged || ! format || ! sound)
            return {};

        // The sample data follows the offset and block size fields, after `offset` bytes.
        unsigned char fields[8];

        if (sound->size < 8 || ! bytes.read (soundBody, fields, 8))
            return {};

        const auto offset = (int64) (uint32) juce::ByteOrder::bigEndianInt (fields);

        if (offset > sound->size - 8)
            return {};

        const auto& compression = format->compression;
        const auto isFloat = compression == "fl32" || compression == "FL32";

        if (! (isFloat || compression == "NONE" || compression == "twos" || compression == "sowt")
             || format->channels <= 0 || format->bits < 1 || format->bits > 32)
            return {};

        const auto bits = isFloat ? 32 : containerBits (format->bits);
        const auto bytesPerFrame = format->channels * bits / 8;

        if (bytesPerFrame > largestFrame || format->channels > (int) maxInputChannels)
            return {};

        const auto dataStart = soundBody + 8 + offset;
        const auto claimed = juce::jmin ((int64) format->frames, (sound->size - 8 - offset) / bytesPerFrame);
        const auto held = framesHeld (bytes, dataStart, claimed, bytesPerFrame);

        if (! held)
            return {};

        SampleLayout layout;
        layout.kind = SampleLayout::Kind::aiff;
        layout.dataStart = dataStart;
        layout.frames = *held;
        layout.dataBytes = layout.frames * bytesPerFrame;
        layout.header = aiffHeader (*format, aifc, bits, layout.frames);
        return layout;
    }

    //==============================================================================
    /** A plain header followed by a window of the file's bytes, as one stream. */
    class SampleStream : public juce::InputStream
    {
    public:
        SampleStream (juce::MemoryBlock headerToShow, std::unique_ptr<juce::InputStream> file,
                      int64 firstByte, int64 numBytes)
            : header (std::move (headerToShow)),
              source (std::move (file)),
              dataStart (firstByte),
              totalLength ((int64) header.getSize() + numBytes)
        {
        }

        int64 getTotalLength() override   { return totalLength; }
        bool isExhausted() override        { return position >= totalLength; }
        int64 getPosition() override       { return position; }

        bool setPosition (int64 newPosition) override
        {
            position = juce::jlimit ((int64) 0, totalLength, newPosition);
            return true;
        }

        int read (void* destination, int maxBytes) override
        {
            auto* out = static_cast<char*> (destination);
            const auto headerSize = (int64) header.getSize();
            int done = 0;

            if (position < headerSize)
            {
                done = (int) juce::jmin ((int64) maxBytes, headerSize - position);
                std::memcpy (out, header.begin() + position, (size_t) done);
                position += done;
            }

            const auto wanted = (int) juce::jmin ((int64) (maxBytes - done), totalLength - position);

            if (wanted > 0 && source->setPosition (dataStart + position - headerSize))
            {
                const auto got = source->read (out + done, wanted);

                if (got > 0)
                {
                    position += got;
                    done += got;
                }
            }

            return done;
        }

    private:
        const juce::MemoryBlock header;
        const std::unique_ptr<juce::InputStream> source;
        const int64 dataStart, totalLength;
        int64 position = 0;

        JUCE_DECLARE_NON_COPYABLE (SampleStream)
    };

    std::unique_ptr<juce::AudioFormatReader> openReader (SampleLayout layout, std::unique_ptr<juce::InputStream> file)
    {
        auto stream = std::make_unique<SampleStream> (std::move (layout.header), std::move (file),
                                                      layout.dataStart, layout.dataBytes);

        if (layout.kind == SampleLayout::Kind::oggVorbisInWav)
        {
            juce::OggVorbisAudioFormat ogg;
            return VorbisChannelOrderReader::inWavOrder (std::unique_ptr<juce::AudioFormatReader> (ogg.createReaderFor (stream.release(), true)));
        }

        std::unique_ptr<juce::AudioFormat> format;

        if (layout.kind == SampleLayout::Kind::aiff)
            format = std::make_unique<juce::AiffAudioFormat>();
        else
            format = std::make_unique<juce::WavAudioFormat>();

        std::unique_ptr<juce::AudioFormatReader> reader (format->createReaderFor (stream.release(), true));

        if (reader != nullptr)
            reader->lengthInSamples = layout.frames;

        return reader;
    }
}

//==============================================================================
PcmFileCheck checkPcmFile (std::unique_ptr<juce::InputStream> stream)
{
    PcmFileCheck result;

    if (stream == nullptr)
        return result;

    const auto start = stream->getPosition();

    FileBytes bytes (*stream);
    const auto container = identify (bytes);

    if (container == Container::none)
    {
        stream->setPosition (start);
        result.stream = std::move (stream);
        return result;
    }

    auto layout = container == Container::aiff || container == Container::aifc
                    ? scanAiff (bytes, container == Container::aifc)
                    : scanWave (bytes, container == Container::rf64);

    if (layout)
        result.reader = openReader (std::move (*layout), std::move (stream));

    result.verdict = result.reader != nullptr ? PcmFileCheck::Verdict::readable : PcmFileCheck::Verdict::refused;
    return result;
}
