#include "engine/FileQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using quillon::test::TemporaryFolder;
using quillon::test::pumpFor;

namespace
{
    struct RecordingListener : FileQueue::FileQueueListener
    {
        void filesChanged (FileQueue* queue) override
        {
            EXPECT_TRUE (juce::MessageManager::getInstance()->isThisTheMessageThread());
            lastQueue = queue;
            ++calls;
        }

        int calls = 0;
        FileQueue* lastQueue = nullptr;
    };

    // Deliveries are asynchronous: let the loop run long enough for any pending one.
    void settle() { pumpFor (50); }

    juce::StringArray outputNames (const FileQueue& queue)
    {
        juce::StringArray names;
        for (int i = 0; i < queue.size(); ++i)
            names.add (queue.getNewFile (i));
        return names;
    }
}

//==============================================================================
struct NameRuleCase
{
    const char* input;
    const char* expected;
};

class OutputNameRule : public testing::TestWithParam<NameRuleCase> {};

TEST_P (OutputNameRule, CleansAndCutsToEightCodePoints)
{
    const auto input = juce::String (juce::CharPointer_UTF8 (GetParam().input));
    const auto expected = juce::String (juce::CharPointer_UTF8 (GetParam().expected));

    const auto once = FileQueue::getConvertedFileName (input);
    EXPECT_EQ (once, expected);
    EXPECT_LE (once.length(), 8);
    EXPECT_EQ (FileQueue::getConvertedFileName (once), once) << "the rule is idempotent";
}

INSTANTIATE_TEST_SUITE_P (Table, OutputNameRule, testing::Values (
    NameRuleCase { "My Kick 01.take2", "MyKick01" },
    NameRuleCase { "[ ]", "" },
    NameRuleCase { "", "" },
    NameRuleCase { "LOOP", "LOOP" },
    NameRuleCase { "Kick Drum 01", "KickDrum" },
    NameRuleCase { " \"*+,/:;<=>?.\\[]|", "" },
    NameRuleCase { "a b\"c*d+e,f/g:h;i<j=k>l?m.n\\o[p]q|r", "abcdefgh" },
    NameRuleCase { "snare-01_(x)'s", "snare-01" },
    NameRuleCase { "#@^", "#@^" },
    NameRuleCase { "tab\there", "tab\there" },
    NameRuleCase { "Größe Bass", "GrößeBas" },
    NameRuleCase { "日本語のサンプル音源です", "日本語のサンプル" },
    NameRuleCase { "ab", "ab" },
    NameRuleCase { "abcdefghij", "abcdefgh" }),
    [] (const testing::TestParamInfo<NameRuleCase>& param) { return "case" + std::to_string (param.index); });

TEST (FileQueueNames, FromFileNeedsAnExistingEntry)
{
    TemporaryFolder temp;
    const auto file = temp.createFile ("My Kick 01.take2.wav");
    const auto folder = temp.file ("Drum Loops.wav");
    folder.createDirectory();

    EXPECT_EQ (FileQueue::getConvertedFileName (file), "MyKick01");
    EXPECT_EQ (FileQueue::getConvertedFileName (folder), "DrumLoop");
    EXPECT_EQ (FileQueue::getConvertedFileName (temp.file ("missing.wav")), "");
}

//==============================================================================
class FileQueueAcceptance : public testing::Test
{
protected:
    void SetUp() override { queue->addListener (&listener); }

    TemporaryFolder temp;
    FileQueue::Ptr queue { new FileQueue() };
    RecordingListener listener;
};

TEST_F (FileQueueAcceptance, TakesEveryInputExtensionInAnyCase)
{
    const juce::StringArray names { "a.wav", "b.WAV", "c.bwf", "d.aiff", "e.AIF", "f.flac", "g.Ogg", "h.mp3", "LOOP.WAV" };

    for (const auto& name : names)
        queue->addFile (temp.createFile (name));

    EXPECT_EQ (queue->size(), names.size());
    EXPECT_EQ (queue->getNewFile (names.size() - 1), "LOOP");
    EXPECT_EQ (queue->getOriginalFileName (names.size() - 1), "LOOP.WAV");
}

TEST_F (FileQueueAcceptance, RefusesOtherFilesFoldersAndMissingPaths)
{
    queue->addFile (temp.createFile ("notes.txt"));
    queue->addFile (temp.createFile ("wav"));
    queue->addFile (temp.createFile ("clip.wav.txt"));
    queue->addFile (temp.file ("missing.wav"));
    queue->addFile (juce::String());
    temp.file ("Drums.wav").createDirectory();
    queue->addFile (temp.file ("Drums.wav"));

    EXPECT_EQ (queue->size(), 0);
    settle();
    EXPECT_EQ (listener.calls, 0) << "nothing added, nothing notified";
}

TEST_F (FileQueueAcceptance, TakesRegularFilesAndLinksToThemButNoPipeSocketOrDevice)
{
    // Each of these would block the worker or never end once it opened them.
    const auto pipe = temp.file ("drop/pipe.wav");
    const auto socketFile = temp.file ("drop/socket.aif");
    const auto device = temp.file ("drop/null.flac");
    const auto real = temp.createFile ("drop/real.wav");
    const auto link = temp.file ("drop/link.ogg");
    const auto dangling = temp.file ("drop/gone.mp3");

    ASSERT_EQ (mkfifo (pipe.getFullPathName().toRawUTF8(), 0666), 0);

    const int socketHandle = socket (AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE (socketHandle, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const auto socketPath = socketFile.getFullPathName().toStdString();
    ASSERT_LT (socketPath.size(), sizeof (address.sun_path));
    socketPath.copy (address.sun_path, socketPath.size());
    ASSERT_EQ (bind (socketHandle, reinterpret_cast<const sockaddr*> (&address), sizeof (address)), 0);
    close (socketHandle);

    ASSERT_TRUE (juce::File ("/dev/null").createSymbolicLink (device, true));
    ASSERT_TRUE (real.createSymbolicLink (link, true));
    ASSERT_TRUE (temp.file ("nowhere.wav").createSymbolicLink (dangling, true));

    for (const auto& entry : { pipe, socketFile, device, link, dangling })
        queue->addFile (entry);

    ASSERT_EQ (queue->size(), 1);
    EXPECT_EQ (queue->getOriginalFileName (0), "link.ogg");

    // Met in a dropped folder, they are passed over in the same way.
    queue->clear();
    queue->addFiles ({ temp.file ("drop").getFullPathName() });

    juce::StringArray names;
    for (int i = 0; i < queue->size(); ++i)
        names.add (queue->getOriginalFileName (i));

    names.sort (false);
    EXPECT_EQ (names, juce::StringArray ({ "link.ogg", "real.wav" }));
}

TEST_F (FileQueueAcceptance, SameFileOnceButTwoPathTextsTwice)
{
    const auto file = temp.createFile ("kick.wav");
    queue->addFile (file);
    settle();
    ASSERT_EQ (listener.calls, 1);

    queue->addFile (file.getFullPathName());
    settle();
    EXPECT_EQ (queue->size(), 1);
    EXPECT_EQ (listener.calls, 1) << "a refused duplicate does not notify";

    // The same file reached through another path text is another item.
    const auto viaLink = temp.file ("link");
    ASSERT_TRUE (temp.get().createSymbolicLink (viaLink, true));
    queue->addFile (viaLink.getChildFile ("kick.wav"));

    EXPECT_EQ (queue->size(), 2);
    EXPECT_EQ (queue->getOriginalFileName (1), "kick.wav");
}

TEST_F (FileQueueAcceptance, SameNameDifferentFilesBothQueuedWithSameOutputName)
{
    queue->addFile (temp.createFile ("Kick Drum 01.wav"));
    queue->addFile (temp.createFile ("Kick Drum 02.wav"));

    EXPECT_EQ (outputNames (*queue), juce::StringArray ({ "KickDrum", "KickDrum" }));
}

TEST_F (FileQueueAcceptance, EmptyCleanedNameIsKept)
{
    queue->addFile (temp.createFile ("[ ].aif"));

    ASSERT_EQ (queue->size(), 1);
    EXPECT_EQ (queue->getNewFile (0), "");
    EXPECT_EQ (queue->getOriginalFileName (0), "[ ].aif");
}

TEST_F (FileQueueAcceptance, FoldersExpandAtEveryDepthWithHiddenEntries)
{
    const auto top = temp.file ("drop");
    temp.createFile ("drop/one.wav");
    temp.createFile ("drop/notes.txt");
    temp.createFile ("drop/.wav");
    temp.createFile ("drop/.hidden/deep.flac");
    temp.createFile ("drop/Drums.wav/inside.ogg");
    temp.createFile ("drop/a/b/c/d/e/f/deepest.aiff");
    const auto single = temp.createFile ("single.mp3");

    queue->addFiles ({ top.getFullPathName(), single.getFullPathName(), temp.file ("nothing").getFullPathName() });

    juce::StringArray names;
    for (int i = 0; i < queue->size(); ++i)
        names.add (queue->getOriginalFileName (i));

    names.sort (false);
    EXPECT_EQ (names, juce::StringArray ({ ".wav", "deep.flac", "deepest.aiff", "inside.ogg", "one.wav", "single.mp3" }));

    for (int i = 0; i < queue->size(); ++i)
    {
        if (queue->getOriginalFileName (i) == ".wav")
        {
            EXPECT_EQ (queue->getNewFile (i), "wav");
        }
    }

    EXPECT_EQ (queue->getOriginalFileName (queue->size() - 1), "single.mp3") << "paths in the order given";
}

TEST_F (FileQueueAcceptance, FolderWithLinksBackToItselfEndsAndQueuesLinkedFiles)
{
    const auto top = temp.file ("loops");
    temp.createFile ("loops/a.wav");
    temp.createFile ("loops/sub/b.wav");
    temp.createFile ("elsewhere/linked.wav");
    ASSERT_TRUE (top.createSymbolicLink (top.getChildFile ("self"), true) || top.getChildFile ("self").exists());
    ASSERT_TRUE (top.getParentDirectory().getChildFile ("loops").createSymbolicLink (top.getChildFile ("sub/up"), true)
                 || top.getChildFile ("sub/up").exists());
    ASSERT_TRUE (temp.file ("elsewhere/linked.wav").createSymbolicLink (top.getChildFile ("link.wav"), true));

    const auto start = juce::Time::getMillisecondCounter();
    queue->addFiles ({ top.getFullPathName() });

    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 5000u);

    juce::StringArray names;
    for (int i = 0; i < queue->size(); ++i)
        names.add (queue->getOriginalFileName (i));
    names.sort (false);

    EXPECT_EQ (names, juce::StringArray ({ "a.wav", "b.wav", "link.wav" }));
}

//==============================================================================
class FileQueueNotification : public testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 3; ++i)
            files.add (temp.createFile ("f" + juce::String (i) + ".wav"));

        queue->addListener (&first);
        queue->addListener (&second);
    }

    void fill()
    {
        for (const auto& f : files)
            queue->addFile (f);
        settle();
        first.calls = second.calls = 0;
    }

    TemporaryFolder temp;
    juce::Array<juce::File> files;
    FileQueue::Ptr queue { new FileQueue() };
    RecordingListener first, second;
};

TEST_F (FileQueueNotification, HundredAddsBeforeTheLoopRunsGiveOneCallPerListener)
{
    juce::StringArray paths;
    for (int i = 0; i < 100; ++i)
        paths.add (temp.createFile ("many/s" + juce::String (i) + ".wav").getFullPathName());

    for (const auto& p : paths)
        queue->addFile (p);

    EXPECT_EQ (first.calls, 0) << "delivery is asynchronous";
    settle();

    EXPECT_EQ (queue->size(), 100);
    EXPECT_EQ (first.calls, 1);
    EXPECT_EQ (second.calls, 1);
    EXPECT_EQ (first.lastQueue, queue.get());
}

struct NotifyCase
{
    const char* name;
    std::function<void (FileQueue&)> operation;
    bool notifies;
};

TEST_F (FileQueueNotification, WhichOperationsNotify)
{
    const NotifyCase cases[] = {
        { "clear on a filled queue",            [] (FileQueue& q) { q.clear(); },                          true },
        { "removeFile in range",                [] (FileQueue& q) { q.removeFile (1); },                   true },
        { "removeFile outside",                 [] (FileQueue& q) { q.removeFile (7); },                   true },
        { "removeFile negative",                [] (FileQueue& q) { q.removeFile (-1); },                  true },
        { "changeNewFileName in range",         [] (FileQueue& q) { q.changeNewFileName (0, "New"); },     true },
        { "changeNewFileName to same name",     [] (FileQueue& q) { q.changeNewFileName (0, "f 0."); },    true },
        { "changeNewFileName at size()",        [] (FileQueue& q) { q.changeNewFileName (3, "New"); },     false },
        { "changeNewFileName negative",         [] (FileQueue& q) { q.changeNewFileName (-1, "New"); },    false },
        { "push",                               [] (FileQueue& q) { q.push ({ "x", "y" }); },              true },
        { "pop",                                [] (FileQueue& q) { q.pop(); },                            true },
        { "size and reads",                     [] (FileQueue& q) { q.size(); q.getNewFile (0); q.getOriginalFileName (9); }, false },
        { "removeAllListeners",                 [] (FileQueue& q) { q.removeAllListeners(); },             false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        queue->clear();
        fill();
        queue->addListener (&first);
        queue->addListener (&second);

        c.operation (*queue);
        settle();
        EXPECT_EQ (first.calls, c.notifies ? 1 : 0);
    }
}

TEST_F (FileQueueNotification, EmptyQueueOperations)
{
    EXPECT_EQ (queue->pop(), FileQueue::Item());
    settle();
    EXPECT_EQ (first.calls, 0) << "pop on an empty queue does not notify";

    queue->clear();
    settle();
    EXPECT_EQ (first.calls, 1) << "clear always notifies";
}

TEST_F (FileQueueNotification, UpdateListenersCallsAtOnceLastRegisteredFirst)
{
    juce::Array<int> order;

    struct Ordered : FileQueue::FileQueueListener
    {
        Ordered (juce::Array<int>& o, int i) : log (o), id (i) {}
        void filesChanged (FileQueue*) override { log.add (id); }
        juce::Array<int>& log;
        int id;
    };

    FileQueue::Ptr fresh (new FileQueue());
    Ordered a (order, 1), b (order, 2), c (order, 3);
    fresh->addListener (&a);
    fresh->addListener (&b);
    fresh->addListener (&b);
    fresh->addListener (nullptr);
    fresh->addListener (&c);

    fresh->updateListeners();
    EXPECT_EQ (order, juce::Array<int> ({ 3, 2, 1 }));
}

TEST_F (FileQueueNotification, ListenerThatClearsTheListStopsTheWalk)
{
    struct Clearing : FileQueue::FileQueueListener
    {
        void filesChanged (FileQueue* q) override { ++calls; q->removeAllListeners(); }
        int calls = 0;
    };

    FileQueue::Ptr fresh (new FileQueue());
    RecordingListener untouched;
    Clearing clearing;
    fresh->addListener (&untouched);
    fresh->addListener (&clearing);

    fresh->updateListeners();
    EXPECT_EQ (clearing.calls, 1);
    EXPECT_EQ (untouched.calls, 0);
}

TEST_F (FileQueueNotification, RemovedListenerHearsNothingOfAPendingChange)
{
    queue->addFile (files[0]);
    queue->removeListener (&first);
    queue->removeListener (&first);
    queue->removeListener (nullptr);
    settle();

    EXPECT_EQ (first.calls, 0);
    EXPECT_EQ (second.calls, 1);
}

TEST_F (FileQueueNotification, DestroyedQueueDeliversNothing)
{
    {
        FileQueue::Ptr doomed (new FileQueue());
        doomed->addListener (&first);
        doomed->addFile (files[0]);
    }

    settle();
    EXPECT_EQ (first.calls, 0);
}

//==============================================================================
TEST (FileQueueItems, PopPushAndRowEdits)
{
    TemporaryFolder temp;
    FileQueue::Ptr queue (new FileQueue());

    for (const auto* name : { "One.wav", "Two.wav", "Three.wav" })
        queue->addFile (temp.createFile (name));

    queue->changeNewFileName (1, "Re name: me.now");
    EXPECT_EQ (queue->getNewFile (1), "Renameme");
    queue->changeNewFileName (2, "[]");
    EXPECT_EQ (queue->getNewFile (2), "");

    EXPECT_EQ (queue->getNewFile (-1), "");
    EXPECT_EQ (queue->getNewFile (3), "");
    EXPECT_EQ (queue->getOriginalFileName (-1), "");

    queue->removeFile (-1);
    queue->removeFile (3);
    EXPECT_EQ (queue->size(), 3);

    const auto front = queue->pop();
    EXPECT_EQ (front.first, temp.file ("One.wav").getFullPathName());
    EXPECT_EQ (front.second, "One");

    queue->push ({ "not a path at all", "un clean.name" });
    EXPECT_EQ (queue->size(), 3);
    EXPECT_EQ (queue->getNewFile (2), "un clean.name") << "push stores the pair unchanged";

    // A pushed pair is not a guard against later duplicates: push bypasses every test.
    queue->push (front);
    queue->push (front);
    EXPECT_EQ (queue->size(), 5);

    queue->clear();
    EXPECT_EQ (queue->size(), 0);
}

//==============================================================================
// The conversion worker pops and pushes while the message thread reads rows and the table
// redraws. Run under ThreadSanitizer to check the locking.
TEST (FileQueueThreads, WorkerPopPushWhileMessageThreadReads)
{
    TemporaryFolder temp;
    FileQueue::Ptr queue (new FileQueue());
    RecordingListener listener;
    queue->addListener (&listener);

    for (int i = 0; i < 50; ++i)
        queue->addFile (temp.createFile ("t" + juce::String (i) + ".wav"));

    // The two sides overlap for a fixed number of reading passes, however the threads are
    // scheduled: the worker runs from before the first pass until after the last.
    std::atomic<bool> started { false }, stop { false };
    std::atomic<int> rounds { 0 };
    std::thread worker ([&]
    {
        started = true;

        while (! stop)
        {
            auto item = queue->pop();
            if (item.first.isNotEmpty())
                queue->push (std::move (item));
            ++rounds;
        }
    });

    while (! started)
        std::this_thread::yield();

    for (int pass = 0; pass < 200; ++pass)
    {
        for (int row = 0; row < queue->size(); ++row)
        {
            const auto name = queue->getOriginalFileName (row);
            const auto output = queue->getNewFile (row);
            EXPECT_TRUE (name.isEmpty() || name.startsWith ("t"));
            EXPECT_TRUE (output.isEmpty() || output.startsWith ("t") || output == "edited");
        }
        queue->changeNewFileName (0, "edited");
        pumpFor (1);
    }

    stop = true;
    worker.join();
    settle();

    EXPECT_EQ (queue->size(), 50);
    EXPECT_GT (rounds.load(), 0);
    EXPECT_GE (listener.calls, 1);
}
