#include "engine/ConverterController.h"

namespace
{
    constexpr int targetSampleRate = 44100;
    constexpr int targetBitDepth = 16;
    constexpr int pauseAfterFileMs = 5;
}

//==============================================================================
void ConverterController::NotifyProgress::handleAsyncUpdate()
{
    if (listeners.isEmpty())
        return;

    listeners.call (&Listener::progressChanged, progress.load());
}

//==============================================================================
ConverterController::ConverterController (FileQueue::Ptr queue)
    : juce::Thread ("File Convert Thread"),
      fileQueue (std::move (queue)),
      notifyForError (std::make_unique<NotifyForError> (listeners)),
      notifyProgress (std::make_unique<NotifyProgress> (listeners, progress)),
      notifyProgressStatus (std::make_unique<NotifyProgressStatus> (listeners)),
      notifyNewFileConverted (std::make_unique<NotifyNewFileConverted> (listeners)),
      notifyFileExists (std::make_unique<NotifyFileExists> (listeners))
{
}

ConverterController::~ConverterController()
{
    signalThreadShouldExit();
    fileQueue->removeAllListeners();

    // Also wakes a worker waiting for an answer. Without an abort the file in hand is finished
    // first, so the wait has no time-out.
    stopThread (-1);
}

void ConverterController::ClearQueue()
{
    fileQueue->clear();
}

void ConverterController::addListener (Listener* listener)
{
    if (listener != nullptr)
        listeners.add (listener);
}

int ConverterController::NumberOfFilesInQueue() const
{
    return fileQueue->size();
}

bool ConverterController::SetFolder (const juce::String& path)
{
    const juce::File folder (path);

    // The worker reads the folder for the whole run.
    if (converting || ! folder.isDirectory())
        return false;

    outputFolder = folder;
    return true;
}

bool ConverterController::CanProcessQueue() const
{
    return ! converting && fileQueue->size() > 0 && outputFolder.isDirectory();
}

void ConverterController::ConvertFilesInQueue()
{
    if (! CanProcessQueue())
        return;

    totalFiles = fileQueue->size();
    converting = true;
    existsOption = askUser;
    currentIndex = 0;
    postProgress (0.0);
    fileWeight = (100.0 / totalFiles) / 100.0;
    notifyProgressStatus->post (conversionStarted);

    // The previous run's worker leaves the converting state just before it returns; a thread
    // that is still running would not be started again.
    waitForThreadToExit (-1);

    if (! startThread (juce::Thread::Priority::high))
    {
        notifyForError->post ("Error: the conversion could not be started");
        converting = false;
        notifyProgressStatus->post (conversionFinished);
    }
}

void ConverterController::resume (fileExistsOptions answer)
{
    // Stored first, so the worker finds it when its wait returns. A wake that comes before the
    // worker waits stays signalled and ends that wait at once.
    existsOption = answer;

    if (converting)
        notify();
}

void ConverterController::abortConversion()
{
    converter.abort = true;
    signalThreadShouldExit();
}

void ConverterController::progressChanged (double& fraction)
{
    postProgress (currentIndex / static_cast<double> (totalFiles) + fileWeight * fraction);
}

void ConverterController::postProgress (double value)
{
    progress = value;
    notifyProgress->triggerAsyncUpdate();
}

//==============================================================================
void ConverterController::run()
{
    try
    {
        processQueue();
    }
    catch (...)
    {
        // Only running out of memory outside a file can land here: end the run so that the
        // window does not stay locked.
        if (! threadShouldExit())
        {
            converting = false;
            notifyProgressStatus->post (conversionFinished);
        }
    }
}

void ConverterController::processQueue()
{
    juce::Array<FileQueue::Item> setAside;

    // Two items may share an output name. The paths this run has written are asked about whatever
    // an earlier "Overwrite All" said, so that no converted file is replaced without a question.
    // Compared without regard to case: the output folder may be on a card whose file system
    // ignores it.
    juce::StringArray writtenThisRun;

    // A folder removed since the run was requested ends the run at once, with the queue intact.
    if (outputFolder.isDirectory())
    {
        for (int i = 0; i < totalFiles; ++i)
        {
            if (threadShouldExit())
                return;

            currentIndex = i;

            const auto item = fileQueue->pop();

            // The queue was emptied under the run: nothing is left to convert.
            if (item.first.isEmpty())
                break;

            const auto outputFileName = item.second + ".wav";
            auto inputFile = juce::File (item.first);
            const auto outputPath = outputFolder.getFullPathName() + "/" + outputFileName;
            auto outputFile = juce::File (outputPath);

            // "Skip All" may stand for a path that this run wrote, since it loses nothing.
            const auto answerInForce = existsOption.load();
            const auto mustAsk = ! answerHoldsForRun()
                              || (answerInForce == overwriteAll && writtenThisRun.contains (outputPath, true));

            if (mustAsk && outputFile.exists())
            {
                notifyFileExists->post (outputPath);
                wait (-1);
            }

            if (threadShouldExit())
                return;

            if (const auto answer = existsOption.load(); answer == skip || answer == skipAll)
            {
                setAside.add (item);
                postProgress ((i + 1) / static_cast<double> (totalFiles));
            }
            else
            {
                const auto outcome = convert (inputFile, outputFile, outputFileName);

                if (outcome == Outcome::aborted)
                    return;

                if (outcome == Outcome::converted)
                    writtenThisRun.addIfNotAlreadyThere (outputPath, true);
            }

            // A one-time answer holds for this file; an "Overwrite All" given before it, when
            // this file's own question was asked anyway, holds again for the next.
            if (! answerHoldsForRun())
                existsOption = answerInForce == overwriteAll ? overwriteAll : askUser;

            wait (pauseAfterFileMs);
        }

        if (threadShouldExit())
            return;
    }

    for (const auto& item : setAside)
        fileQueue->push (item);

    converting = false;
    notifyProgressStatus->post (conversionFinished);
}

bool ConverterController::answerHoldsForRun() const
{
    const auto answer = existsOption.load();
    return answer == skipAll || answer == overwriteAll;
}

ConverterController::Outcome ConverterController::convert (juce::File& inputFile, juce::File& outputFile,
                                                           const juce::String& outputFileName)
{
    try
    {
        converter.convertFile (inputFile, outputFile, targetSampleRate, targetBitDepth);

        // An abort may have cut the file short: it is not reported.
        if (threadShouldExit())
            return Outcome::aborted;

        notifyNewFileConverted->post (outputFileName);
        return Outcome::converted;
    }
    catch (const InputFileInvalid&)
    {
        if (threadShouldExit())
            return Outcome::aborted;

        notifyForError->post ("Error: " + inputFile.getFullPathName() + "\ncan not be opened");
        return Outcome::failed;
    }
    catch (const FileWriteException&)
    {
        notifyForError->post ("Error writing to: " + outputFile.getFullPathName());
    }
    catch (const NewSampleTooLarge& e)
    {
        notifyForError->post (e.what());
    }
    catch (...)
    {
        // Anything else (typically no memory for a long file) fails this file only.
        notifyForError->post ("Error: " + inputFile.getFullPathName() + "\ncan not be converted");
    }

    return threadShouldExit() ? Outcome::aborted : Outcome::failed;
}
