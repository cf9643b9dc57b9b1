#include "engine/ConverterController.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include <sys/stat.h>

using quillon::test::TemporaryFolder;
using quillon::test::makeSine;
using quillon::test::pumpFor;
using quillon::test::pumpUntil;
using quillon::test::writeAudioFile;
using quillon::test::writeSparseWave;

namespace
{
    using Controller = ConverterController;

    juce::StringArray reports (std::initializer_list<juce::String> items)
    {
        juce::StringArray result;
        for (const auto& item : items)
            result.add (item);
        return result;
    }

    bool onMessageThread() { return juce::MessageManager::existsAndIsCurrentThread(); }

    juce::String describe (Controller::StatusUpdate status)
    {
        switch (status)
        {
            case Controller::conversionStarted:  return "started";
            case Controller::conversionFinished: return "finished";
        }

        return "status " + juce::String ((int) status);
    }

    /** Records what a controller reports, in order, and answers the file-exists question from
        a script (or leaves it open when the script is empty), as the application does. */
    struct Recorder : Controller::Listener
    {
        void progressChanged (double value) override
        {
            log ("progress " + juce::String (value));
            progress.push_back (value);

            if (onProgress != nullptr)
                onProgress (value);
        }

        void errorOccured (juce::String message) override  { log ("error " + message); }
        void FileConverted (juce::String name) override     { log ("converted " + name); }

        void progressStatusUpdate (Controller::StatusUpdate status) override
        {
            log (describe (status));

            if (status == Controller::conversionFinished)
            {
                finished = true;
                convertingAtFinish = controller->isConverting();
                queueAtFinish.clear();

                for (auto item = queue->pop(); item.first.isNotEmpty(); item = queue->pop())
                    queueAtFinish.push_back (item);

                for (const auto& item : queueAtFinish)
                    queue->push (item);
            }
        }

        void fileExistsError (juce::String path) override
        {
            log ("exists " + path);

            if (answers.empty())
                return;

            const auto answer = answers.front();
            answers.pop_front();
            controller->resume (answer);
        }

        void log (const juce::String& event)
        {
            allOnMessageThread = allOnMessageThread && onMessageThread();
            all.add (event);

            if (! event.startsWith ("progress "))
                events.add (event);
        }

        void reset()
        {
            all.clear();
            events.clear();
            progress.clear();
            finished = false;
        }

        Controller* controller = nullptr;
        FileQueue* queue = nullptr;

        std::deque<Controller::fileExistsOptions> answers;
        std::function<void (double)> onProgress;

        juce::StringArray all;      // every report
        juce::StringArray events;   // every report but progress
        std::vector<double> progress;
        bool allOnMessageThread = true;

        bool finished = false;
        bool convertingAtFinish = true;
        std::vector<FileQueue::Item> queueAtFinish;
    };

    /** A controller whose worker waits for the test before it starts and before it returns.
        The gates reset manually: once open they stay open. */
    struct GatedController : Controller
    {
        using Controller::Controller;

        ~GatedController() override
        {
            beforeRun.signal();
            afterRun.signal();
            stopThread (-1);
        }

        void run() override
        {
            beforeRun.wait (-1);
            Controller::run();
            afterRun.wait (-1);
        }

        juce::WaitableEvent beforeRun { true };
        juce::WaitableEvent afterRun { true };
    };

    /** A controller whose worker stops at its first report of a conversion's progress, before
        the report is posted, until the test lets it go. */
    struct HeldAtFirstConversionReport : Controller
    {
        using Controller::Controller;

        ~HeldAtFirstConversionReport() override
        {
            release.signal();
            stopThread (-1);
        }

        void progressChanged (double& fraction) override
        {
            if (! onMessageThread() && ! heldOnce.exchange (true))
            {
                held.signal();
                release.wait (-1);
            }

            Controller::progressChanged (fraction);
        }

        std::atomic<bool> heldOnce { false };
        juce::WaitableEvent held { true };
        juce::WaitableEvent release { true };
    };

    void expectConvertedWav (const juce::File& file, int channels)
    {
        juce::WavAudioFormat wav;
        const std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));

        ASSERT_NE (reader, nullptr) << file.getFullPathName();
        EXPECT_EQ (reader->sampleRate, 44100.0);
        EXPECT_EQ (reader->bitsPerSample, 16u);
        EXPECT_EQ ((int) reader->numChannels, channels);
        EXPECT_GT (reader->lengthInSamples, 0);
    }

    // Up to rounding: (i / n + 1 / n) and (i + 1) / n may differ in the last bit.
    bool nonDecreasing (const std::vector<double>& values)
    {
        return std::adjacent_find (values.begin(), values.end(),
                                   [] (double a, double b) { return b < a - 1e-12; }) == values.end();
    }
}

//==============================================================================
class ConverterControllerRun : public testing::Test
{
protected:
    void SetUp() override
    {
        inputs.createDirectory();
        outputs.createDirectory();
        watch (*controller);
        ASSERT_TRUE (controller->SetFolder (outputs.getFullPathName()));
    }

    void TearDown() override
    {
        EXPECT_TRUE (recorder.allOnMessageThread);
    }

    void watch (Controller& c)
    {
        recorder.controller = &c;
        recorder.queue = queue.get();
        c.addListener (&recorder);
    }

    /** A short sine at 22050 Hz, queued under its name without extension. */
    juce::File addInput (const juce::String& fileName, int samples = 2205, int channels = 1)
    {
        const auto file = inputs.getChildFile (fileName);
        EXPECT_TRUE (writeAudioFile (file, makeSine (channels, samples, 22050.0, 440.0), 22050.0));
        queue->addFile (file);
        return file;
    }

    juce::File output (const juce::String& name) const { return outputs.getChildFile (name + ".wav"); }
    juce::String outputPath (const juce::String& name) const { return outputs.getFullPathName() + "/" + name + ".wav"; }

    juce::File makeExistingOutput (const juce::String& name) const
    {
        return temp.createFile ("out/" + name + ".wav", "old");
    }

    bool runToEnd()
    {
        controller->ConvertFilesInQueue();
        return pumpUntil ([this] { return recorder.finished; });
    }

    FileQueue::Item itemFor (const juce::File& input) const
    {
        return { input.getFullPathName(), input.getFileNameWithoutExtension() };
    }

    TemporaryFolder temp;
    juce::File inputs { temp.file ("in") };
    juce::File outputs { temp.file ("out") };
    Recorder recorder;
    FileQueue::Ptr queue { new FileQueue() };
    Controller::Ptr controller { new Controller (queue) };
};

TEST_F (ConverterControllerRun, ConvertsEveryFileInQueueOrderAndReportsOnTheMessageThread)
{
    // A listener registered twice (and a null one) still hears each report once.
    controller->addListener (&recorder);
    controller->addListener (nullptr);

    addInput ("Alpha.wav");
    addInput ("Beta.wav", 2205, 2);
    addInput ("Gamma.wav");

    controller->ConvertFilesInQueue();
    EXPECT_TRUE (controller->isConverting());
    EXPECT_TRUE (recorder.all.isEmpty()) << "reports arrive through the message loop only";

    ASSERT_TRUE (pumpUntil ([this] { return recorder.finished; }));

    EXPECT_EQ (recorder.events, reports ({ "started", "converted Alpha.wav", "converted Beta.wav",
                                            "converted Gamma.wav", "finished" }));
    ASSERT_GE (recorder.all.size(), 2);
    EXPECT_TRUE (recorder.all[0].startsWith ("progress ")) << "the zero progress is posted first";
    EXPECT_EQ (recorder.all[1], "started");

    ASSERT_FALSE (recorder.progress.empty());
    EXPECT_TRUE (nonDecreasing (recorder.progress)) << testing::PrintToString (recorder.progress);
    EXPECT_NEAR (recorder.progress.back(), 1.0, 1e-12);

    EXPECT_FALSE (recorder.convertingAtFinish);
    EXPECT_TRUE (recorder.queueAtFinish.empty());
    EXPECT_FALSE (controller->isConverting());

    expectConvertedWav (output ("Alpha"), 1);
    expectConvertedWav (output ("Beta"), 2);
    expectConvertedWav (output ("Gamma"), 1);
}

TEST_F (ConverterControllerRun, SkipSetsTheFileAsideAndTheStartIsPostedBeforeTheWorkerRuns)
{
    const juce::ReferenceCountedObjectPtr<HeldAtFirstConversionReport> held { new HeldAtFirstConversionReport (queue) };
    controller = held.get();
    watch (*controller);
    ASSERT_TRUE (controller->SetFolder (outputs.getFullPathName()));

    const auto alpha = addInput ("Alpha.wav");
    addInput ("Beta.wav");
    makeExistingOutput ("Alpha");

    controller->ConvertFilesInQueue();

    // The worker waits for the answer and has posted nothing but the question.
    ASSERT_TRUE (pumpUntil ([this] { return recorder.events.size() == 2; }));
    pumpFor (20);
    EXPECT_EQ (recorder.all, reports ({ "progress 0", "started", "exists " + outputPath ("Alpha") }));
    EXPECT_TRUE (controller->isConverting());

    // The skip alone takes the run to half way: the worker is held before Beta's conversion
    // reports anything.
    const auto valuesBefore = recorder.progress.size();
    controller->resume (Controller::skip);
    ASSERT_TRUE (held->held.wait (10000));
    ASSERT_TRUE (pumpUntil ([&] { return recorder.progress.size() > valuesBefore; }));
    pumpFor (20);
    const std::vector<double> afterSkip (recorder.progress.begin() + (std::ptrdiff_t) valuesBefore, recorder.progress.end());
    ASSERT_EQ (afterSkip.size(), 1u) << testing::PrintToString (afterSkip);
    EXPECT_NEAR (afterSkip.front(), 0.5, 1e-12);

    held->release.signal();
    ASSERT_TRUE (pumpUntil ([this] { return recorder.finished; }));

    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"),
                                            "converted Beta.wav", "finished" }));
    EXPECT_TRUE (nonDecreasing (recorder.progress)) << testing::PrintToString (recorder.progress);
    EXPECT_NEAR (recorder.progress.back(), 1.0, 1e-12);

    EXPECT_EQ (recorder.queueAtFinish, std::vector<FileQueue::Item> { itemFor (alpha) });
    EXPECT_EQ (output ("Alpha").loadFileAsString(), "old");
    expectConvertedWav (output ("Beta"), 1);
}

TEST_F (ConverterControllerRun, SkipAllSetsAsideEveryRemainingFileWithoutAskingAgain)
{
    const auto alpha = addInput ("Alpha.wav");
    const auto beta = addInput ("Beta.wav");
    const auto gamma = addInput ("Gamma.wav");
    makeExistingOutput ("Alpha");
    makeExistingOutput ("Gamma");
    recorder.answers = { Controller::skipAll };

    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"), "finished" }));
    EXPECT_EQ (recorder.queueAtFinish, (std::vector<FileQueue::Item> { itemFor (alpha), itemFor (beta), itemFor (gamma) }));
    EXPECT_NEAR (recorder.progress.back(), 1.0, 1e-12);
    EXPECT_FALSE (output ("Beta").exists());
    EXPECT_EQ (output ("Alpha").loadFileAsString(), "old");
    EXPECT_EQ (output ("Gamma").loadFileAsString(), "old");
}

TEST_F (ConverterControllerRun, OverwriteAllHoldsForOneRunOnly)
{
    const auto alpha = addInput ("Alpha.wav");
    const auto beta = addInput ("Beta.wav");
    makeExistingOutput ("Alpha");
    makeExistingOutput ("Beta");

    // An answer outside a run wakes nobody and does not carry into the next run.
    controller->resume (Controller::skipAll);
    recorder.answers = { Controller::overwriteAll };
    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"),
                                            "converted Alpha.wav", "converted Beta.wav", "finished" }));
    expectConvertedWav (output ("Alpha"), 1);
    expectConvertedWav (output ("Beta"), 1);

    // The next run asks again, for each file.
    recorder.reset();
    queue->addFile (alpha);
    queue->addFile (beta);
    recorder.answers = { Controller::skip, Controller::skip };
    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"),
                                            "exists " + outputPath ("Beta"), "finished" }));
    EXPECT_EQ (recorder.queueAtFinish, (std::vector<FileQueue::Item> { itemFor (alpha), itemFor (beta) }));
}

TEST_F (ConverterControllerRun, OverwriteReplacesOneFileAndTheNextOneIsAskedAgain)
{
    addInput ("Alpha.wav");
    const auto beta = addInput ("Beta.wav");
    makeExistingOutput ("Alpha").setReadOnly (true);
    makeExistingOutput ("Beta");
    recorder.answers = { Controller::overwrite, Controller::skip };

    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"), "converted Alpha.wav",
                                            "exists " + outputPath ("Beta"), "finished" }));
    expectConvertedWav (output ("Alpha"), 1);
    EXPECT_EQ (output ("Beta").loadFileAsString(), "old");
    EXPECT_EQ (recorder.queueAtFinish, std::vector<FileQueue::Item> { itemFor (beta) });
}

struct OwnOutputCase
{
    const char* name;
    Controller::fileExistsOptions firstAnswer;      // to the question about a file of this run
    Controller::fileExistsOptions secondAnswer;     // to the next such question, when one comes
    std::vector<const char*> events;                // after Alpha's question and its conversion
    std::vector<const char*> setAside;              // the inputs back in the queue
    int kickDrumFrames;                             // tells which kick wrote KickDrum.wav
    bool gammaReplaced;
};

void PrintTo (const OwnOutputCase& c, std::ostream* os) { *os << c.name; }

class ConverterControllerOwnOutputs : public ConverterControllerRun,
                                      public testing::WithParamInterface<OwnOutputCase> {};

TEST_P (ConverterControllerOwnOutputs, AreNeverReplacedWithoutAQuestion)
{
    const auto& c = GetParam();

    // Three kicks whose names clean to the same output name, each of its own length (2205, 4410
    // and 6615 samples at 22050 Hz), and Gamma, whose output was there before the run.
    addInput ("Alpha.wav");
    addInput ("Kick Drum 01.wav", 2205);
    addInput ("Kick Drum 02.wav", 4410);
    addInput ("Gamma.wav");
    addInput ("Kick Drum 03.wav", 6615);
    makeExistingOutput ("Alpha");
    makeExistingOutput ("Gamma");
    recorder.answers = { Controller::overwriteAll, c.firstAnswer, c.secondAnswer };

    ASSERT_TRUE (runToEnd());

    auto expected = reports ({ "started", "exists " + outputPath ("Alpha"), "converted Alpha.wav",
                               "converted KickDrum.wav" });
    for (const auto* event : c.events)
        expected.add (juce::String (event).replace ("<out>", outputs.getFullPathName()));
    expected.add ("finished");
    EXPECT_EQ (recorder.events, expected);

    std::vector<FileQueue::Item> setAside;
    for (const auto* name : c.setAside)
        setAside.push_back ({ inputs.getChildFile (name).getFullPathName(),
                              FileQueue::getConvertedFileName (inputs.getChildFile (name)) });
    EXPECT_EQ (recorder.queueAtFinish, setAside);

    juce::WavAudioFormat wav;
    const std::unique_ptr<juce::AudioFormatReader> kickDrum (wav.createReaderFor (output ("KickDrum").createInputStream().release(), true));
    ASSERT_NE (kickDrum, nullptr);
    EXPECT_EQ (kickDrum->lengthInSamples, c.kickDrumFrames);

    if (c.gammaReplaced)
        expectConvertedWav (output ("Gamma"), 1);
    else
        EXPECT_EQ (output ("Gamma").loadFileAsString(), "old");
}

INSTANTIATE_TEST_SUITE_P (AfterOverwriteAll, ConverterControllerOwnOutputs, testing::Values (
    // A one-time answer leaves the earlier "Overwrite All" in force for what was there before.
    OwnOutputCase { "Skip", Controller::skip, Controller::skip,
                    { "exists <out>/KickDrum.wav", "converted Gamma.wav", "exists <out>/KickDrum.wav" },
                    { "Kick Drum 02.wav", "Kick Drum 03.wav" }, 4410, true },
    OwnOutputCase { "Overwrite", Controller::overwrite, Controller::overwrite,
                    { "exists <out>/KickDrum.wav", "converted KickDrum.wav", "converted Gamma.wav",
                      "exists <out>/KickDrum.wav", "converted KickDrum.wav" },
                    {}, 13230, true },
    // Another "Overwrite All" still lets no file of the run go without a question.
    OwnOutputCase { "OverwriteAll", Controller::overwriteAll, Controller::skip,
                    { "exists <out>/KickDrum.wav", "converted KickDrum.wav", "converted Gamma.wav",
                      "exists <out>/KickDrum.wav" },
                    { "Kick Drum 03.wav" }, 8820, true },
    // "Skip All" sets everything after it aside, the run's own outputs with the rest.
    OwnOutputCase { "SkipAll", Controller::skipAll, Controller::skip,
                    { "exists <out>/KickDrum.wav" },
                    { "Kick Drum 02.wav", "Gamma.wav", "Kick Drum 03.wav" }, 4410, false }),
    [] (const testing::TestParamInfo<OwnOutputCase>& param) { return std::string (param.param.name); });

TEST_F (ConverterControllerRun, UnreadableInputGivesItsErrorLineAndTheRunGoesOn)
{
    const auto broken = temp.createFile ("in/Broken.wav", "this is not audio");
    queue->addFile (broken);
    addInput ("Beta.wav");

    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (recorder.events, reports ({ "started",
                                            "error Error: " + broken.getFullPathName() + "\ncan not be opened",
                                            "converted Beta.wav", "finished" }));
    EXPECT_TRUE (recorder.queueAtFinish.empty());
    EXPECT_FALSE (output ("Broken").exists());
    EXPECT_NEAR (recorder.progress.back(), 1.0, 1e-12);
}

TEST_F (ConverterControllerRun, UnwritableOutputPathsGiveTheirErrorLineAndTheRunGoesOn)
{
    // An output below a regular file (root may write anywhere else), and an existing output that is
    // a folder with something in it, which must survive the attempt.
    const auto beta = addInput ("Beta.wav");
    queue->clear();
    temp.createFile ("out/blocker", "a file");
    queue->push ({ beta.getFullPathName(), "blocker/Beta" });

    addInput ("Alpha.wav");
    const auto keep = temp.createFile ("out/Alpha.wav/keep.txt", "precious");
    recorder.answers = { Controller::overwrite };

    addInput ("Gamma.wav");

    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (recorder.events, reports ({ "started",
                                            "error Error writing to: " + outputPath ("blocker/Beta"),
                                            "exists " + outputPath ("Alpha"),
                                            "error Error writing to: " + outputPath ("Alpha"),
                                            "converted Gamma.wav", "finished" }));
    EXPECT_EQ (keep.loadFileAsString(), "precious");
    expectConvertedWav (output ("Gamma"), 1);
    EXPECT_TRUE (recorder.queueAtFinish.empty());
}

TEST_F (ConverterControllerRun, AConvertedSampleTooLargeGivesItsErrorLineAndTheRunGoesOn)
{
    // 68 million frames at 1379 Hz become some 2.17 billion frames at 44100 Hz: more than a buffer
    // holds, found before anything is allocated.
    const auto huge = inputs.getChildFile ("Huge.wav");
    ASSERT_TRUE (writeSparseWave (huge, 1379, 1, 68000000));
    queue->addFile (huge);
    addInput ("Beta.wav");

    ASSERT_TRUE (runToEnd());

    EXPECT_EQ (recorder.events, reports ({ "started", "error Converted sample size too large",
                                            "converted Beta.wav", "finished" }));
    EXPECT_FALSE (output ("Huge").exists());
    expectConvertedWav (output ("Beta"), 1);
    EXPECT_TRUE (recorder.queueAtFinish.empty());
    EXPECT_NEAR (recorder.progress.back(), 1.0, 1e-12);
}

TEST_F (ConverterControllerRun, OutputFolderRemovedBeforeTheWorkerStartsEndsTheRunWithTheQueueIntact)
{
    const juce::ReferenceCountedObjectPtr<GatedController> gated { new GatedController (queue) };
    gated->afterRun.signal();
    watch (*gated);
    ASSERT_TRUE (gated->SetFolder (outputs.getFullPathName()));

    const auto alpha = addInput ("Alpha.wav");
    const auto beta = addInput ("Beta.wav");

    gated->ConvertFilesInQueue();
    ASSERT_TRUE (gated->isConverting());
    ASSERT_TRUE (outputs.deleteRecursively());
    gated->beforeRun.signal();

    ASSERT_TRUE (pumpUntil ([this] { return recorder.finished; }));
    EXPECT_EQ (recorder.events, reports ({ "started", "finished" }));
    EXPECT_FALSE (recorder.convertingAtFinish);
    EXPECT_EQ (recorder.queueAtFinish, (std::vector<FileQueue::Item> { itemFor (alpha), itemFor (beta) }));
}

TEST_F (ConverterControllerRun, ARunRequestedWhileThePreviousWorkerReturnsStillStarts)
{
    const juce::ReferenceCountedObjectPtr<GatedController> gated { new GatedController (queue) };
    gated->beforeRun.signal();
    watch (*gated);
    ASSERT_TRUE (gated->SetFolder (outputs.getFullPathName()));

    addInput ("Alpha.wav");
    makeExistingOutput ("Alpha");
    recorder.answers = { Controller::skip, Controller::skip };

    gated->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([this] { return recorder.finished; }));
    ASSERT_TRUE (gated->isThreadRunning()) << "the first worker has not returned yet";

    // The request has to wait for the first worker, which returns a little later.
    std::thread opener ([&gated]
    {
        juce::Thread::sleep (30);
        gated->afterRun.signal();
    });

    recorder.reset();
    gated->ConvertFilesInQueue();
    opener.join();
    EXPECT_TRUE (gated->isConverting());

    ASSERT_TRUE (pumpUntil ([this] { return recorder.finished; }));
    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"), "finished" }));
}

TEST_F (ConverterControllerRun, NothingStartsWithoutQueueOrFolder)
{
    const auto notAFolder = temp.createFile ("plain.txt");

    // Empty queue.
    EXPECT_FALSE (controller->CanProcessQueue());
    controller->ConvertFilesInQueue();
    EXPECT_FALSE (controller->isConverting());

    // A rejected folder keeps the previous one.
    addInput ("Alpha.wav");
    EXPECT_FALSE (controller->SetFolder (notAFolder.getFullPathName()));
    EXPECT_FALSE (controller->SetFolder (temp.file ("missing").getFullPathName()));
    EXPECT_TRUE (controller->CanProcessQueue());

    // No folder ever set.
    Controller::Ptr fresh { new Controller (queue) };
    fresh->addListener (&recorder);
    EXPECT_FALSE (fresh->SetFolder (notAFolder.getFullPathName()));
    EXPECT_FALSE (fresh->CanProcessQueue());
    fresh->ConvertFilesInQueue();
    EXPECT_FALSE (fresh->isConverting());

    pumpFor (50);
    EXPECT_TRUE (recorder.all.isEmpty());
    EXPECT_EQ (controller->NumberOfFilesInQueue(), 1);
}

TEST_F (ConverterControllerRun, ASecondRequestDuringARunIsIgnored)
{
    addInput ("Alpha.wav");
    addInput ("Beta.wav");
    makeExistingOutput ("Alpha");

    controller->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([this] { return recorder.events.contains ("exists " + outputPath ("Alpha")); }));

    EXPECT_FALSE (controller->CanProcessQueue());
    controller->ConvertFilesInQueue();
    EXPECT_FALSE (controller->SetFolder (inputs.getFullPathName())) << "the folder stays for the whole run";
    pumpFor (20);

    controller->resume (Controller::skip);
    ASSERT_TRUE (pumpUntil ([this] { return recorder.finished; }));

    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"),
                                            "converted Beta.wav", "finished" }));
}

TEST_F (ConverterControllerRun, AQueueEmptiedDuringARunEndsIt)
{
    const auto alpha = addInput ("Alpha.wav");
    addInput ("Beta.wav");
    makeExistingOutput ("Alpha");

    controller->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([this] { return recorder.events.size() == 2; }));
    controller->ClearQueue();
    controller->resume (Controller::skip);

    ASSERT_TRUE (pumpUntil ([this] { return recorder.finished; }));
    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha"), "finished" }));
    EXPECT_EQ (recorder.queueAtFinish, std::vector<FileQueue::Item> { itemFor (alpha) });
    EXPECT_FALSE (output ("").exists());
}

TEST_F (ConverterControllerRun, ReleasingTheControllerWhileTheWorkerWaitsForAnAnswer)
{
    struct QueueListener : FileQueue::FileQueueListener
    {
        void filesChanged (FileQueue*) override { ++calls; }
        int calls = 0;
    } queueListener;

    addInput ("Alpha.wav");
    const auto beta = addInput ("Beta.wav");
    makeExistingOutput ("Alpha");
    queue->addListener (&queueListener);

    controller->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([this] { return recorder.events.size() == 2; }));

    const auto start = juce::Time::getMillisecondCounter();
    controller = nullptr;
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 2000u);

    pumpFor (50);
    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha") }));
    EXPECT_EQ (output ("Alpha").loadFileAsString(), "old");
    EXPECT_EQ (queue->size(), 1);
    EXPECT_EQ (queue->getOriginalFileName (0), beta.getFileName());

    // The queue forgot its listeners.
    const auto callsBefore = queueListener.calls;
    queue->clear();
    pumpFor (20);
    EXPECT_EQ (queueListener.calls, callsBefore);
}

TEST_F (ConverterControllerRun, AbortDuringAConversionReportsNothingMoreAndLeavesNoPartialOutput)
{
    addInput ("Alpha.wav");
    addInput ("Long.wav", 60 * 22050, 2);
    const auto gamma = addInput ("Gamma.wav");
    makeExistingOutput ("Alpha");
    recorder.answers = { Controller::skip };

    // Abort as soon as the long file reports its first resampled block.
    bool aborted = false;
    recorder.onProgress = [&] (double value)
    {
        if (! aborted && value > 1.0 / 3.0 + 1e-9)
        {
            aborted = true;
            controller->abortConversion();
        }
    };

    controller->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([&] { return aborted && ! controller->isThreadRunning(); }));
    pumpFor (50);

    EXPECT_EQ (recorder.events, reports ({ "started", "exists " + outputPath ("Alpha") }));
    EXPECT_TRUE (controller->isConverting());
    EXPECT_FALSE (output ("Long").exists());
    EXPECT_EQ (output ("Alpha").loadFileAsString(), "old");

    // The item set aside is dropped; the one never reached stays queued.
    EXPECT_EQ (queue->size(), 1);
    EXPECT_EQ (queue->getOriginalFileName (0), gamma.getFileName());
}

TEST_F (ConverterControllerRun, AbortWhileWritingLeavesNoPartialOutputAndReportsNothingMore)
{
    // Long enough that writing lasts far longer than a trip through the message loop.
    addInput ("Long.wav", 120 * 22050, 2);
    addInput ("Beta.wav");

    // The first file is written in the second half of its own progress: [0.25, 0.5) overall.
    bool aborted = false, partialOutputAtAbort = false;
    double valueAtAbort = 0.0;
    recorder.onProgress = [&] (double value)
    {
        if (! aborted && value > 0.25 + 1e-9)
        {
            aborted = true;
            valueAtAbort = value;
            // Whatever name the file in writing has, it is the one file in the folder.
            partialOutputAtAbort = outputs.getNumberOfChildFiles (juce::File::findFiles) == 1;
            controller->abortConversion();
        }
    };

    controller->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([&] { return aborted && ! controller->isThreadRunning(); }));
    pumpFor (50);

    EXPECT_LT (valueAtAbort, 0.5) << "the abort came after the file was written";
    EXPECT_TRUE (partialOutputAtAbort);
    EXPECT_EQ (recorder.events, reports ({ "started" }));
    EXPECT_TRUE (controller->isConverting());
    EXPECT_EQ (outputs.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    EXPECT_EQ (queue->size(), 1);
}

//==============================================================================
namespace
{
    struct ChildRun
    {
        bool ended = false;
        juce::StringArray lines;
    };

    /** Runs a conversion run in the controller child; kills it when it has not ended in time. */
    ChildRun runInChild (const juce::StringArray& arguments, int limitMs = 20000)
    {
        juce::StringArray command { QUILLON_CONTROLLER_CHILD };
        command.addArray (arguments);

        ChildRun result;
        juce::ChildProcess child;

        if (! child.start (command, juce::ChildProcess::wantStdOut))
            return result;

        result.ended = child.waitForProcessToFinish (limitMs);

        if (! result.ended)
            child.kill();

        result.lines = juce::StringArray::fromLines (child.readAllProcessOutput().trimEnd());
        return result;
    }

    void makeUnreadable (const juce::File& file)  { ASSERT_EQ (chmod (file.getFullPathName().toRawUTF8(), 0), 0); }
    void replaceByFolder (const juce::File& file) { ASSERT_TRUE (file.deleteFile() && file.createDirectory()); }

    void replaceByPipe (const juce::File& file)
    {
        ASSERT_TRUE (file.deleteFile());
        ASSERT_EQ (mkfifo (file.getFullPathName().toRawUTF8(), 0666), 0);
    }
}

/** A queued input that has since become something no reader can take. */
struct SpoiledInput
{
    const char* name;
    void (*spoil) (const juce::File&);
    bool unprivileged;     // root reads anything
};

void PrintTo (const SpoiledInput& c, std::ostream* os) { *os << c.name; }

class ConverterControllerSpoiledInput : public testing::TestWithParam<SpoiledInput>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (inputs.createDirectory() && outputs.createDirectory());
        ASSERT_EQ (chmod (outputs.getFullPathName().toRawUTF8(), 0777), 0) << "the unprivileged child writes here";

        ASSERT_TRUE (writeAudioFile (spoiled, makeSine (1, 2205, 22050.0, 440.0), 22050.0));
        const FileQueue::Ptr queue { new FileQueue() };
        queue->addFile (spoiled);
        ASSERT_EQ (queue->size(), 1) << "queued while it was still a sample";

        GetParam().spoil (spoiled);
    }

    /** The child's arguments: the spoiled input first, then the given one. */
    juce::StringArray items (const juce::File& next, const juce::StringArray& options = {}) const
    {
        juce::StringArray result { outputs.getFullPathName() };
        result.addArray (options);

        if (GetParam().unprivileged)
            result.add ("--unprivileged");

        result.addArray ({ spoiled.getFullPathName(), "Alpha", next.getFullPathName(), next.getFileNameWithoutExtension() });
        return result;
    }

    juce::File addInput (const juce::String& fileName, int samples, int channels = 1) const
    {
        const auto file = inputs.getChildFile (fileName);
        EXPECT_TRUE (writeAudioFile (file, makeSine (channels, samples, 22050.0, 440.0), 22050.0));
        return file;
    }

    TemporaryFolder temp;
    juce::File inputs { temp.file ("in") };
    juce::File outputs { temp.file ("out") };
    juce::File spoiled { inputs.getChildFile ("Alpha.wav") };
};

TEST_P (ConverterControllerSpoiledInput, GivesItsErrorLineAndTheRunGoesOn)
{
    const auto run = runInChild (items (addInput ("Beta.wav", 2205)));

    ASSERT_TRUE (run.ended) << "the run never ended; it reported:\n" << run.lines.joinIntoString ("\n");
    EXPECT_EQ (run.lines, reports ({ "started", "error Error: " + spoiled.getFullPathName() + "\\ncan not be opened",
                                     "converted Beta.wav", "finished" }));
    expectConvertedWav (outputs.getChildFile ("Beta.wav"), 1);
    EXPECT_FALSE (outputs.getChildFile ("Alpha.wav").exists());
}

TEST_P (ConverterControllerSpoiledInput, QuittingDuringItReturnsWithinASecond)
{
    // A long file after it, so that the quit also meets a conversion in hand.
    const auto run = runInChild (items (addInput ("Long.wav", 60 * 22050, 2), { "--quit-during", "0" }));

    ASSERT_TRUE (run.ended) << "quitting never returned; the run reported:\n" << run.lines.joinIntoString ("\n");
    ASSERT_TRUE (run.lines[run.lines.size() - 1].startsWith ("quit ")) << run.lines.joinIntoString ("\n");
    EXPECT_LT (run.lines[run.lines.size() - 1].fromFirstOccurrenceOf (" ", false, false).getIntValue(), 1000);
    EXPECT_FALSE (run.lines.contains ("finished"));
    EXPECT_FALSE (run.lines.contains ("converted Long.wav"));
}

INSTANTIATE_TEST_SUITE_P (Run, ConverterControllerSpoiledInput, testing::Values (
    SpoiledInput { "Unreadable", makeUnreadable, true },
    SpoiledInput { "ReplacedByAFolder", replaceByFolder, false },
    SpoiledInput { "ReplacedByANamedPipe", replaceByPipe, false }),
    [] (const testing::TestParamInfo<SpoiledInput>& param) { return std::string (param.param.name); });

//==============================================================================
namespace
{
    /** Logs "<tag> <report>" into a log shared by several listeners, to show their order. */
    struct TaggedListener : Controller::Listener
    {
        TaggedListener (juce::String tagToUse, juce::StringArray& logToUse) : tag (std::move (tagToUse)), log (logToUse) {}

        void progressChanged (double value) override                      { add ("progress " + juce::String (value)); }
        void errorOccured (juce::String message) override                  { add ("error " + message); }
        void progressStatusUpdate (Controller::StatusUpdate status) override { add (describe (status)); }
        void fileExistsError (juce::String path) override                  { add ("exists " + path); }
        void FileConverted (juce::String name) override                    { add ("converted " + name); }

        void add (const juce::String& report)
        {
            EXPECT_TRUE (onMessageThread());
            log.add (tag + " " + report);

            if (onReport != nullptr)
                onReport();
        }

        juce::String tag;
        juce::StringArray& log;
        std::function<void()> onReport;
    };

    struct ControllerNotifiers : testing::Test
    {
        ControllerNotifiers()
        {
            listeners.add (&first);
            listeners.add (&second);
        }

        juce::StringArray log;
        TaggedListener first { "first", log };
        TaggedListener second { "second", log };
        juce::ListenerList<Controller::Listener> listeners;
    };
}

TEST_F (ControllerNotifiers, ThreePostsBeforeADeliveryGiveOneDeliveryOfAllInOrderLastRegisteredListenerFirst)
{
    // Counts the deliveries that reach a listener.
    struct CountedErrors : Controller::NotifyForError
    {
        CountedErrors (juce::ListenerList<Controller::Listener>& l, const juce::StringArray& logToWatch)
            : Controller::NotifyForError (l), log (logToWatch) {}

        void handleAsyncUpdate() override
        {
            const auto before = log.size();
            Controller::NotifyForError::handleAsyncUpdate();
            deliveries += log.size() > before ? 1 : 0;
        }

        const juce::StringArray& log;
        int deliveries = 0;
    } errors (listeners, log);

    errors.post ("one");
    errors.post ("two");
    errors.post ("three");

    ASSERT_TRUE (pumpUntil ([&] { return log.size() == 6; }));
    pumpFor (20);

    EXPECT_EQ (errors.deliveries, 1);
    EXPECT_EQ (log, reports ({ "second error one", "first error one", "second error two",
                               "first error two", "second error three", "first error three" }));
    EXPECT_EQ (errors.getNumPending(), 0);
}

TEST_F (ControllerNotifiers, AnItemPostedDuringADeliveryWaitsForTheNextOne)
{
    Controller::NotifyNewFileConverted converted (listeners);
    second.onReport = [&]
    {
        second.onReport = nullptr;
        converted.post ("LATE.wav");
    };

    converted.post ("FIRST.wav");
    converted.handleUpdateNowIfNeeded();

    EXPECT_EQ (log, reports ({ "second converted FIRST.wav", "first converted FIRST.wav" }));
    EXPECT_EQ (converted.getNumPending(), 1);
    EXPECT_TRUE (converted.isUpdatePending());

    pumpUntil ([&] { return converted.getNumPending() == 0; });
    EXPECT_EQ (log, reports ({ "second converted FIRST.wav", "first converted FIRST.wav",
                               "second converted LATE.wav", "first converted LATE.wav" }));
}

TEST_F (ControllerNotifiers, ProgressDeliversTheValueCurrentAtDelivery)
{
    std::atomic<double> progress { 0.0 };
    Controller::NotifyProgress notifier (listeners, progress);

    for (const auto value : { 0.1, 0.2, 0.3 })
    {
        progress = value;
        notifier.triggerAsyncUpdate();
    }

    pumpFor (50);
    EXPECT_EQ (log, reports ({ "second progress 0.3", "first progress 0.3" }));
}

TEST_F (ControllerNotifiers, StartAndFinishInOneDeliveryArriveInPostingOrder)
{
    Controller::NotifyProgressStatus status (listeners);
    status.post (Controller::conversionStarted);
    status.post (Controller::conversionFinished);

    status.handleUpdateNowIfNeeded();
    EXPECT_EQ (log, reports ({ "second started", "first started", "second finished", "first finished" }));
    EXPECT_FALSE (status.isUpdatePending());
}

TEST_F (ControllerNotifiers, WithoutListenersItemsAreDroppedAndAGoneNotifierDeliversNothing)
{
    juce::ListenerList<Controller::Listener> nobody;
    Controller::NotifyFileExists exists (nobody);
    exists.post ("/out/A.wav");
    exists.handleUpdateNowIfNeeded();
    EXPECT_EQ (exists.getNumPending(), 0);

    auto errors = std::make_unique<Controller::NotifyForError> (listeners);
    std::atomic<double> progress { 0.5 };
    auto progressNotifier = std::make_unique<Controller::NotifyProgress> (listeners, progress);
    errors->post ("never seen");
    progressNotifier->triggerAsyncUpdate();
    errors = nullptr;
    progressNotifier = nullptr;

    pumpFor (50);
    EXPECT_TRUE (log.isEmpty());
}

//==============================================================================
// The converter's reports of a written block reach the message thread later. Counted for the
// file after their own, they would show a file too many (the whole run done while the last file
// is still to be asked about) and then fall back.
TEST_F (ConverterControllerRun, EachProgressReportCountsForItsOwnFile)
{
    addInput ("Alpha.wav", 60 * 16384);
    addInput ("Beta.wav");
    makeExistingOutput ("Beta");
    recorder.answers = { Controller::overwrite };

    // Keep the message thread at its first report of Alpha until the worker has taken up Beta,
    // so that every report Alpha requests meanwhile is delivered only then.
    double valueHeld = 0.0;
    recorder.onProgress = [&] (double value)
    {
        if (valueHeld == 0.0 && value > 0.0 && value < 0.5)
        {
            valueHeld = value;
            const auto deadline = juce::Time::getMillisecondCounter() + 10000;

            while (queue->size() > 0 && juce::Time::getMillisecondCounter() < deadline)
                juce::Thread::sleep (1);
        }
    };

    ASSERT_TRUE (runToEnd());
    ASSERT_GT (valueHeld, 0.0) << "no report of the first file came";

    EXPECT_EQ (recorder.events, reports ({ "started", "converted Alpha.wav", "exists " + outputPath ("Beta"),
                                            "converted Beta.wav", "finished" }));

    // Until Beta's question is answered the bar shows Alpha done at most.
    for (const auto& report : recorder.all)
    {
        if (report.startsWith ("exists "))
            break;

        if (report.startsWith ("progress "))
        {
            EXPECT_LE (report.fromFirstOccurrenceOf (" ", false, false).getDoubleValue(), 0.5 + 1e-12) << report;
        }
    }

    EXPECT_TRUE (nonDecreasing (recorder.progress)) << testing::PrintToString (recorder.progress);
    EXPECT_NEAR (recorder.progress.back(), 1.0, 1e-12);
}
