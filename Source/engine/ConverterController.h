#pragma once

#include "engine/FileConverter.h"
#include "engine/FileQueue.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>

/** Converts the whole queue, one file after another, on its own worker thread ("File Convert
    Thread"), into 44100 Hz 16-bit WAV files in the output folder.

    Everything the run reports (progress, converted names, error lines, the start and end of the
    run, existing outputs) reaches the listeners on the message thread through five notifiers.
    When an output exists already the worker posts its path and waits until resume() brings the
    user's answer; an output that the run itself has written is asked about even after "Overwrite
    All". All public operations but run() and progressChanged() belong to the message
    thread. */
class ConverterController : public FileConverter::ProgressListener,
                            public juce::Thread,
                            public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<ConverterController>;

    enum StatusUpdate : int
    {
        conversionStarted = 0,
        conversionFinished = 2
    };

    /** The answer to "the output exists already": bit 0 chooses overwriting, bit 1 makes the
        answer hold for the rest of the run. */
    enum fileExistsOptions : int
    {
        skip = 0,
        overwrite = 1,
        skipAll = 2,
        overwriteAll = 3,
        askUser = 4
    };

    /** Called on the message thread, last registered listener first. */
    class Listener
    {
    public:
        virtual ~Listener() = default;

        virtual void progressChanged (double overallFraction) = 0;
        virtual void errorOccured (juce::String message) = 0;
        virtual void progressStatusUpdate (StatusUpdate status) = 0;
        virtual void fileExistsError (juce::String outputPath) = 0;
        virtual void FileConverted (juce::String outputFileName) = 0;
    };

    //==============================================================================
    /** Hands posted items to the listeners on the message thread. A delivery passes every item
        present when it starts, oldest first, and then removes exactly those; the lock is never
        held while a listener runs, since a listener may run a modal loop. */
    template <typename Item, void (Listener::*callback) (Item)>
    class ListNotifier : public juce::AsyncUpdater
    {
    public:
        explicit ListNotifier (juce::ListenerList<Listener>& listenersToCall) : listeners (listenersToCall) {}

        /** Any thread. */
        void post (const Item& item)
        {
            {
                const juce::ScopedLock sl (lock);
                pending.add (item);
            }

            triggerAsyncUpdate();
        }

        int getNumPending() const
        {
            const juce::ScopedLock sl (lock);
            return pending.size();
        }

        void handleAsyncUpdate() override
        {
            const auto count = getNumPending();

            if (count == 0)
                return;

            for (int i = 0; i < count; ++i)
            {
                Item item;

                {
                    const juce::ScopedLock sl (lock);
                    item = pending.getReference (i);
                }

                listeners.call (callback, item);
            }

            // Items posted while the listeners ran stay for the next delivery.
            const juce::ScopedLock sl (lock);
            pending.removeRange (0, count);
        }

    private:
        juce::ListenerList<Listener>& listeners;
        juce::Array<Item> pending;
        juce::CriticalSection lock;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ListNotifier)
    };

    using NotifyForError         = ListNotifier<juce::String, &Listener::errorOccured>;
    using NotifyProgressStatus   = ListNotifier<StatusUpdate, &Listener::progressStatusUpdate>;
    using NotifyNewFileConverted = ListNotifier<juce::String, &Listener::FileConverted>;
    using NotifyFileExists       = ListNotifier<juce::String, &Listener::fileExistsError>;

    /** Passes the progress value current at delivery; repeated posts before it give one call. */
    class NotifyProgress : public juce::AsyncUpdater
    {
    public:
        NotifyProgress (juce::ListenerList<Listener>& listenersToCall, const std::atomic<double>& progressValue)
            : listeners (listenersToCall), progress (progressValue) {}

        void handleAsyncUpdate() override;

    private:
        juce::ListenerList<Listener>& listeners;
        const std::atomic<double>& progress;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NotifyProgress)
    };

    //==============================================================================
    explicit ConverterController (FileQueue::Ptr queue);
    ~ConverterController() override;

    bool isConverting() const noexcept { return converting; }
    void ClearQueue();

    /** Null and already registered listeners are ignored. There is no removal: a listener must
        outlive every delivery that can reach it. */
    void addListener (Listener* listener);

    int NumberOfFilesInQueue() const;

    /** Takes the folder when it is an existing directory and no run is in progress; otherwise
        returns false and keeps the previous one. */
    bool SetFolder (const juce::String& path);

    /** No run in progress, something queued and an existing output folder. */
    bool CanProcessQueue() const;

    /** Starts a run over the queued files; does nothing (and posts nothing) when
        CanProcessQueue() is false. */
    void ConvertFilesInQueue();

    /** Passes the answer to the file-exists question to the waiting worker. */
    void resume (fileExistsOptions answer);

    /** Stops the file in hand at its next block (a partly written output is deleted) and ends
        the run without further reports. Does not wait. */
    void abortConversion();

    /** The converter's report of the current file's fraction (worker and message thread). */
    void progressChanged (double& fraction) override;

    void run() override;

private:
    enum class Outcome
    {
        converted,
        failed,
        aborted     // the run must take the abort end
    };

    void processQueue();
    bool answerHoldsForRun() const;
    /** Converts one file and posts its outcome. */
    Outcome convert (juce::File& inputFile, juce::File& outputFile, const juce::String& outputFileName);
    void postProgress (double value);

    FileQueue::Ptr fileQueue;
    std::atomic<double> progress { 0.0 };
    std::atomic<fileExistsOptions> existsOption { askUser };
    double fileWeight = 0.0;
    std::atomic<int> currentIndex { 0 };
    int totalFiles = 0;
    std::atomic<bool> converting { false };
    juce::File outputFolder;
    FileConverter converter { this };
    juce::ListenerList<Listener> listeners;

    std::unique_ptr<NotifyForError> notifyForError;
    std::unique_ptr<NotifyProgress> notifyProgress;
    std::unique_ptr<NotifyProgressStatus> notifyProgressStatus;
    std::unique_ptr<NotifyNewFileConverted> notifyNewFileConverted;
    std::unique_ptr<NotifyFileExists> notifyFileExists;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConverterController)
};
