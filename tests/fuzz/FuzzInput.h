#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <optional>

/** A fuzz input is one sample file: its first byte picks the file's extension, the bytes after it
    are the file. */
namespace quillon::fuzz
{
    inline constexpr std::array<const char*, 7> extensions { ".wav", ".bwf", ".aiff", ".aif", ".flac", ".ogg", ".mp3" };

    inline juce::String extensionFor (std::uint8_t selector)
    {
        return extensions[selector % extensions.size()];
    }

    /** The selector of an extension (".wav"), or nothing for one of no input format. */
    inline std::optional<std::uint8_t> selectorFor (const juce::String& extension)
    {
        for (std::size_t i = 0; i < extensions.size(); ++i)
            if (extension.equalsIgnoreCase (extensions[i]))
                return static_cast<std::uint8_t> (i);

        return std::nullopt;
    }
}
