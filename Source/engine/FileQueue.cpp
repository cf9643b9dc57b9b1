#include "engine/FileQueue.h"

#include "engine/InputFormats.h"

#include <filesystem>

namespace
{
    constexpr int maxOutputNameLength = 8;

    // Characters that never appear in an output name.
    const juce::String removedCharacters { " \"*+,/:;<=>?.\\[]|" };

    /** A regular file, or a link to one. existsAsFile() also holds for a named pipe or a device,
        whose reading would block the worker or never end. */
    bool isRegularFile (const juce::File& file)
    {
        std::error_code error;
        return std::filesystem::is_regular_file (std::filesystem::u8path (file.getFullPathName().toStdString()), error);
    }
}

void FileQueue::addFiles (const juce::StringArray& paths)
{
    for (const auto& path : paths)
    {
        const juce::File file (path);

        if (file.isDirectory())
        {
            // noCycles: a link back to the folder itself or to a parent would otherwise make the
            // walk endless. Files reached through links are still found.
            const auto entries = file.findChildFiles (juce::File::findFilesAndDirectories, true, "*",
                                                      juce::File::FollowSymlinks::noCycles);
            for (const auto& entry : entries)
                addFile (entry);
        }
        else
        {
            addFile (path);
        }
    }
}

bool FileQueue::hasInputFormatExtension (const juce::File& file)
{
    juce::AudioFormatManager formats;
    registerInputFormats (formats);

    for (int i = 0; i < formats.getNumKnownFormats(); ++i)
        for (const auto& extension : formats.getKnownFormat (i)->getFileExtensions())
            if (file.hasFileExtension (extension))
                return true;

    return false;
}

void FileQueue::addFile (const juce::File& file)
{
    if (! hasInputFormatExtension (file) || ! isRegularFile (file))
        return;

    const auto path = file.getFullPathName();

    {
        const juce::ScopedLock sl (lock);

        for (const auto& item : items)
            if (item.first == path)
                return;

        items.add ({ path, getConvertedFileName (file) });
    }

    triggerAsyncUpdate();
}

void FileQueue::addFile (const juce::String& path)
{
    addFile (juce::File (path));
}

void FileQueue::push (Item item)
{
    {
        const juce::ScopedLock sl (lock);
        items.add (std::move (item));
    }

    triggerAsyncUpdate();
}

FileQueue::Item FileQueue::pop()
{
    Item front;

    {
        const juce::ScopedLock sl (lock);

        if (items.isEmpty())
            return {};

        front = items.getFirst();
        items.remove (0);
    }

    triggerAsyncUpdate();
    return front;
}

int FileQueue::size() const
{
    const juce::ScopedLock sl (lock);
    return items.size();
}

void FileQueue::clear()
{
    {
        const juce::ScopedLock sl (lock);
        items.clear();
    }

    triggerAsyncUpdate();
}

void FileQueue::removeFile (const int& row)
{
    {
        const juce::ScopedLock sl (lock);

        if (juce::isPositiveAndBelow (row, items.size()))
            items.remove (row);
    }

    triggerAsyncUpdate();
}

void FileQueue::changeNewFileName (int row, const juce::String& newName)
{
    {
        const juce::ScopedLock sl (lock);

        if (! juce::isPositiveAndBelow (row, items.size()))
            return;

        items.getReference (row).second = getConvertedFileName (newName);
    }

    triggerAsyncUpdate();
}

juce::String FileQueue::getNewFile (int row) const
{
    const juce::ScopedLock sl (lock);
    return juce::isPositiveAndBelow (row, items.size()) ? items.getReference (row).second
                                                        : juce::String();
}

juce::String FileQueue::getOriginalFileName (int row) const
{
    const juce::ScopedLock sl (lock);
    return juce::isPositiveAndBelow (row, items.size()) ? juce::File (items.getReference (row).first).getFileName()
                                                        : juce::String();
}

juce::String FileQueue::getConvertedFileName (const juce::String& text)
{
    return text.removeCharacters (removedCharacters).substring (0, maxOutputNameLength);
}

juce::String FileQueue::getConvertedFileName (const juce::File& file)
{
    return file.exists() ? getConvertedFileName (file.getFileNameWithoutExtension()) : juce::String();
}

void FileQueue::addListener (FileQueueListener* listener)
{
    if (listener != nullptr)
        listeners.addIfNotAlreadyThere (listener);
}

void FileQueue::removeListener (FileQueueListener* listener)
{
    listeners.removeFirstMatchingValue (listener);
}

void FileQueue::removeAllListeners()
{
    listeners.clear();
}

void FileQueue::updateListeners()
{
    // Last registered first; a listener may shrink the list while we walk it.
    for (int i = listeners.size(); --i >= 0;)
    {
        i = juce::jmin (i, listeners.size() - 1);

        if (i < 0)
            break;

        listeners.getUnchecked (i)->filesChanged (this);
    }
}

void FileQueue::handleAsyncUpdate()
{
    updateListeners();
}
