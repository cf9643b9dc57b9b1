#pragma once

#include <juce_events/juce_events.h>

#include <utility>

/** The files waiting to be converted: pairs of (full input path, output name without extension).

    Filled on the message thread from dropped paths; the conversion worker takes items off the
    front with pop() and appends skipped ones with push(). Every change is reported to the
    listeners on the message thread through the queue's own AsyncUpdater, so any number of
    changes before a delivery give one filesChanged() call. */
class FileQueue : public juce::ReferenceCountedObject,
                  public juce::AsyncUpdater
{
public:
    using Ptr  = juce::ReferenceCountedObjectPtr<FileQueue>;
    using Item = std::pair<juce::String, juce::String>;

    class FileQueueListener
    {
    public:
        virtual ~FileQueueListener() = default;
        virtual void filesChanged (FileQueue* queue) = 0;
    };

    FileQueue() = default;
    ~FileQueue() override = default;

    /** Adds every accepted file among the paths; folders contribute all files at every depth. */
    void addFiles (const juce::StringArray& paths);

    /** Appends the file when it has an input format's extension, exists as a regular file and
        its full path is not queued yet. */
    void addFile (const juce::File& file);
    void addFile (const juce::String& path);

    /** Appends the item unchanged, without any test. */
    void push (Item item);

    /** Removes and returns the front item; two empty strings when the queue is empty. */
    Item pop();

    int size() const;
    void clear();
    void removeFile (const int& row);
    void changeNewFileName (int row, const juce::String& newName);

    juce::String getNewFile (int row) const;
    juce::String getOriginalFileName (int row) const;

    /** The output-name rule: removes the characters that a sampler's file system or the output
        path cannot take, then keeps the first 8 characters. */
    static juce::String getConvertedFileName (const juce::String& text);

    /** The rule applied to the file's name without extension; empty when the file does not exist. */
    static juce::String getConvertedFileName (const juce::File& file);

    void addListener (FileQueueListener* listener);
    void removeListener (FileQueueListener* listener);
    void removeAllListeners();

    /** Calls filesChanged() on every listener now, last registered first. */
    void updateListeners();

    void handleAsyncUpdate() override;

private:
    static bool hasInputFormatExtension (const juce::File& file);

    juce::Array<FileQueueListener*> listeners;
    juce::Array<Item> items;
    juce::CriticalSection lock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileQueue)
};
