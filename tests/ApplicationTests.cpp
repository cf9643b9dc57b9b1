#include "KorvelQuillonApplication.h"
#include "QuitSignals.h"
#include "support/ComponentSearch.h"
#include "support/ImageTestSupport.h"
#include "support/TestSupport.h"
#include "ui/CommandIDs.h"
#include "ui/DragDrop.h"
#include "ui/RemoveButton.h"

#include <gtest/gtest.h>

// The framework's interface to the message loop's event sources, for the quit signals' pipe.
#include <juce_events/native/juce_linux_EventLoopInternal.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

// Quitting ends the message loop for good, so a test that quits must be the last thing its
// process does; CTest runs every test case in a process of its own.

using quillon::test::findButton;
using quillon::test::findInside;
using quillon::test::findOnDesktop;
using quillon::test::pumpFor;
using quillon::test::pumpUntil;
using quillon::test::runTool;
using quillon::test::TemporaryFolder;
using quillon::test::WhenReady;
using quillon::test::writeScript;

namespace
{
    juce::JUCEApplicationBase* noFactory() { return nullptr; }

    juce::AlertWindow* findAlert (const juce::String& title)
    {
        return findOnDesktop<juce::AlertWindow> ([&] (juce::AlertWindow& w) { return w.getName() == title; });
    }

    juce::StringArray buttonTexts (juce::Component& parent)
    {
        juce::StringArray texts;

        for (auto* child : parent.getChildren())
            if (auto* button = dynamic_cast<juce::TextButton*> (child))
                texts.add (button->getButtonText());

        return texts;
    }

    /** The text of an alert window's message (the window describes itself as "title. message"). */
    juce::String messageOf (juce::AlertWindow& alert)
    {
        return alert.getDescription().fromFirstOccurrenceOf (alert.getName() + ". ", false, false);
    }

    /** Presses the button of the named alert as soon as the alert shows; records its message. */
    struct AnswerAlert
    {
        AnswerAlert (const juce::String& title, const juce::String& buttonText)
            : answer ([this, title, buttonText]
              {
                  auto* alert = findAlert (title);

                  if (alert == nullptr)
                      return false;

                  message = messageOf (*alert);
                  buttons = buttonTexts (*alert);
                  bounds = alert->getBounds();
                  look = &alert->getLookAndFeel();

                  if (auto* button = findButton (*alert, buttonText))
                      button->triggerClick();

                  return true;
              })
        {
        }

        juce::String message;
        juce::StringArray buttons;
        juce::Rectangle<int> bounds;
        juce::LookAndFeel* look = nullptr;
        WhenReady answer;
    };

    juce::File writeSample (const juce::File& file, int samples = 4410, double rate = 48000.0)
    {
        file.getParentDirectory().createDirectory();
        EXPECT_TRUE (quillon::test::writeAudioFile (file, quillon::test::makeSine (1, samples, rate, 440.0), rate, 16));
        return file;
    }

    struct WaveInfo
    {
        double rate = 0;
        int bits = 0;
        juce::int64 length = -1;
    };

    WaveInfo readWave (const juce::File& file)
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));

        if (reader == nullptr)
            return {};

        return { reader->sampleRate, (int) reader->bitsPerSample, reader->lengthInSamples };
    }

    class ApplicationTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            // JUCE's own folder dialog, whether or not zenity or kdialog are installed.
            writeScript (tools.file ("which"), "#!/bin/sh\ncase \"$1\" in zenity|kdialog) exit 1 ;; esac\nexec /usr/bin/which \"$@\"\n");
            prependToPath (tools.get());

            juce::JUCEApplicationBase::createInstance = &noFactory;
            app = std::make_unique<KorvelQuillonApplication>();
        }

        void TearDown() override
        {
            app->shutdown();
            app.reset();
        }

        static void prependToPath (const juce::File& folder)
        {
            const auto path = folder.getFullPathName() + ":" + juce::SystemStats::getEnvironmentVariable ("PATH", "/usr/bin:/bin");
            setenv ("PATH", path.toRawUTF8(), 1);
        }

        void startUp()
        {
            app->initialise ({});
            ASSERT_NE (app->getMainWindow(), nullptr);
        }

        /** Queues the samples and starts a run into the folder without asking for it. */
        void startRun (const juce::Array<juce::File>& inputs, const juce::File& outputFolder)
        {
            juce::StringArray paths;

            for (auto& f : inputs)
                paths.add (f.getFullPathName());

            app->getFileQueue()->addFiles (paths);
            ASSERT_TRUE (app->getController()->SetFolder (outputFolder.getFullPathName()));
            app->getController()->ConvertFilesInQueue();
            ASSERT_TRUE (app->getController()->isConverting());
        }

        bool runFinished() const { return ! app->getController()->isConverting(); }

        TemporaryFolder tools, folder;
        std::unique_ptr<KorvelQuillonApplication> app;
    };
}

//==============================================================================
TEST_F (ApplicationTest, StartsWithTheMainWindowAndItsMenuBar)
{
    startUp();

    auto* window = app->getMainWindow();
    EXPECT_TRUE (window->isOnDesktop());
    EXPECT_EQ (window->getName(), "Korvel Quillon");
    ASSERT_NE (window->getMenuBarComponent(), nullptr);
    ASSERT_NE (window->getContentComponent(), nullptr);
    EXPECT_EQ (window->getContentComponent()->getWidth(), 420);
    EXPECT_EQ (window->getContentComponent()->getHeight(), 720);
    EXPECT_EQ (window->getMenuBarComponent()->getBottom(), window->getContentComponent()->getY());
    EXPECT_EQ (app->getMenuModel()->getMenuBarNames(), juce::StringArray ({ "File", "Window", "Help" }));
    EXPECT_FALSE (app->getController()->isConverting());
    EXPECT_EQ (app->getFileQueue()->size(), 0);
    EXPECT_EQ (app->getAboutWindow(), nullptr);
    EXPECT_EQ (app->getApplicationName(), "Korvel Quillon");
    EXPECT_EQ (app->getApplicationVersion(), "1.1.6");
    EXPECT_FALSE (app->moreThanOneInstanceAllowed());
}

TEST_F (ApplicationTest, DefinesSixCommandsWithNamesKeysAndActiveFlags)
{
    juce::Array<juce::CommandID> ids;
    app->getAllCommands (ids);
    EXPECT_EQ (ids, juce::Array<juce::CommandID> ({ 0x200040, 0x200060, 0x200410, 0x200420, 0x200510, 0x200050 }));

    struct Expected { juce::CommandID id; const char* name; int key; bool needsWindow; };
    const Expected table[] = {
        { CommandIDs::convert,       "Convert",         0,   true },
        { CommandIDs::about,         "About",           0,   false },
        { CommandIDs::minimize,      "Minimize",        'm', true },
        { CommandIDs::bringToFront,  "Bring to Front",  0,   false },
        { CommandIDs::openUserGuide, "Open User Guide", 0,   false },
        { CommandIDs::quit,          "Quit",            'q', false },
    };

    const auto check = [&] (bool withWindow)
    {
        for (const auto& e : table)
        {
            SCOPED_TRACE (e.name);
            juce::ApplicationCommandInfo info (e.id);
            app->getCommandInfo (e.id, info);

            EXPECT_EQ (info.shortName, e.name);
            EXPECT_EQ (info.description, "");
            EXPECT_EQ (info.categoryName, "General");
            EXPECT_EQ (info.flags & ~juce::ApplicationCommandInfo::isDisabled, 0);
            EXPECT_EQ ((info.flags & juce::ApplicationCommandInfo::isDisabled) == 0, withWindow || ! e.needsWindow);

            if (e.key == 0)
            {
                EXPECT_TRUE (info.defaultKeypresses.isEmpty());
            }
            else
            {
                ASSERT_EQ (info.defaultKeypresses.size(), 1);
                EXPECT_EQ (info.defaultKeypresses[0], juce::KeyPress (e.key, juce::ModifierKeys::commandModifier, 0));
            }
        }
    };

    check (false);
    startUp();
    check (true);

    // The default keys became the manager's key mappings: Ctrl+Q and Ctrl+M here.
    auto* mappings = app->getCommandManager()->getKeyMappings();
    EXPECT_TRUE (mappings->containsMapping (CommandIDs::quit, juce::KeyPress ('q', juce::ModifierKeys::ctrlModifier, 0)));
    EXPECT_TRUE (mappings->containsMapping (CommandIDs::minimize, juce::KeyPress ('m', juce::ModifierKeys::ctrlModifier, 0)));

    juce::ApplicationCommandInfo unknown (0x123456);
    unknown.setInfo ("untouched", "kept", "Other", juce::ApplicationCommandInfo::hiddenFromKeyEditor);
    app->getCommandInfo (0x123456, unknown);
    EXPECT_EQ (unknown.shortName, "untouched");
    EXPECT_EQ (unknown.description, "kept");
    EXPECT_EQ (unknown.categoryName, "Other");
    EXPECT_EQ (unknown.flags, juce::ApplicationCommandInfo::hiddenFromKeyEditor);
    EXPECT_TRUE (unknown.defaultKeypresses.isEmpty());
}

TEST_F (ApplicationTest, PerformsEachCommandThroughTheCommandManager)
{
    startUp();
    auto* commands = app->getCommandManager();

    // Convert with nothing queued asks nothing.
    EXPECT_TRUE (commands->invokeDirectly (CommandIDs::convert, false));
    EXPECT_EQ (findOnDesktop<juce::FileChooserDialogBox>(), nullptr);
    EXPECT_FALSE (app->getController()->isConverting());

    EXPECT_TRUE (commands->invokeDirectly (CommandIDs::about, false));
    ASSERT_NE (app->getAboutWindow(), nullptr);
    EXPECT_TRUE (app->getAboutWindow()->isOnDesktop());

    // These tests run under a window manager, which iconifies the window (its WM_STATE, which
    // isMinimised() reads from the X server) and restores it, once it manages the window: the
    // framework knows the window's frame then.
    auto* window = app->getMainWindow();
    ASSERT_TRUE (pumpUntil ([&] { return static_cast<bool> (window->getPeer()->getFrameSizeIfPresent()); }));
    EXPECT_TRUE (commands->invokeDirectly (CommandIDs::minimize, false));
    EXPECT_TRUE (pumpUntil ([&] { return window->isMinimised(); }));
    EXPECT_FALSE (window->isShowing());
    EXPECT_TRUE (commands->invokeDirectly (CommandIDs::bringToFront, false));
    EXPECT_TRUE (pumpUntil ([&] { return ! window->isMinimised() && window->isShowing(); }));
    EXPECT_EQ (app->getMainWindow(), window);
    EXPECT_TRUE (window->isOnDesktop());
    EXPECT_EQ (window->getContentComponent()->getHeight(), 720);

    {
        // No guide beside the test program: the box says so.
        AnswerAlert box ("Korvel Quillon", "OK");
        EXPECT_TRUE (commands->invokeDirectly (CommandIDs::openUserGuide, false));
        EXPECT_TRUE (box.answer.done());
    }

    // An ID outside the table does nothing and still counts as performed.
    EXPECT_TRUE (app->perform (juce::ApplicationCommandTarget::InvocationInfo (0x123456)));

    EXPECT_FALSE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_TRUE (commands->invokeDirectly (CommandIDs::quit, false));
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (findAlert ("Conversion in process"), nullptr);
}

//==============================================================================
TEST_F (ApplicationTest, ConvertOpensNoChooserWithAnEmptyQueueOrDuringARun)
{
    startUp();

    bool chooserSeen = false;
    WhenReady watch ([&]
    {
        if (auto* box = findOnDesktop<juce::FileChooserDialogBox>())
        {
            chooserSeen = true;
            box->exitModalState (0);
        }

        return false;
    });

    app->convert();
    EXPECT_FALSE (chooserSeen);

    juce::Array<juce::File> inputs;

    for (int i = 0; i < 60; ++i)
        inputs.add (writeSample (folder.file ("in/s" + juce::String (i) + ".wav"), 22050));

    ASSERT_TRUE (folder.file ("out").createDirectory());
    startRun (inputs, folder.file ("out"));
    app->convert();
    EXPECT_FALSE (chooserSeen);
    EXPECT_EQ (app->getFolderChooser(), nullptr);
    EXPECT_TRUE (pumpUntil ([&] { return runFinished(); }));
}

TEST_F (ApplicationTest, ACancelledChooserStartsNothing)
{
    startUp();
    app->getFileQueue()->addFile (writeSample (folder.file ("kick.wav")));

    for (int attempt = 0; attempt < 2; ++attempt)
    {
        juce::String title;
        juce::File root;
        bool heldWhileOpen = false;

        WhenReady cancel ([&]
        {
            auto* box = findOnDesktop<juce::FileChooserDialogBox>();

            if (box == nullptr || ! box->isCurrentlyModal())
                return false;

            title = box->getName();
            heldWhileOpen = app->getFolderChooser() != nullptr;

            if (auto* browser = findInside<juce::FileBrowserComponent> (*box))
                root = browser->getRoot();

            findButton (*box, "Cancel")->triggerClick();
            return true;
        });

        app->convert();

        SCOPED_TRACE (attempt);
        EXPECT_TRUE (cancel.done());
        EXPECT_EQ (title, "Choose output folder");
        EXPECT_EQ (root, juce::File::getSpecialLocation (juce::File::userHomeDirectory));
        EXPECT_TRUE (heldWhileOpen);
        EXPECT_EQ (app->getFolderChooser(), nullptr);
        EXPECT_FALSE (app->getController()->isConverting());
        EXPECT_EQ (app->getFileQueue()->size(), 1);
    }
}

// A second Convert that arrives while the chooser is open (a double click on the button queues
// two) must neither open another chooser over it nor delete the open one.
TEST_F (ApplicationTest, ASecondConvertWhileTheChooserIsOpenDoesNothing)
{
    startUp();
    app->getFileQueue()->addFile (writeSample (folder.file ("kick.wav")));

    std::set<juce::Component*> choosersSeen;
    juce::uint32 secondSent = 0;

    WhenReady cancel ([&]
    {
        auto* box = findOnDesktop<juce::FileChooserDialogBox>();

        if (box == nullptr || ! box->isCurrentlyModal())
            return false;

        choosersSeen.insert (box);

        if (secondSent == 0)
        {
            app->getCommandManager()->invokeDirectly (CommandIDs::convert, true);
            secondSent = juce::Time::getMillisecondCounter();
        }

        if (juce::Time::getMillisecondCounter() - secondSent < 200)
            return false;

        findButton (*box, "Cancel")->triggerClick();
        return true;
    });

    app->getCommandManager()->invokeDirectly (CommandIDs::convert, true);
    ASSERT_TRUE (pumpUntil ([&] { return cancel.done() && app->getFolderChooser() == nullptr; }));
    pumpFor (100);

    EXPECT_EQ (choosersSeen.size(), 1u);
    EXPECT_EQ (findOnDesktop<juce::FileChooserDialogBox>(), nullptr);
    EXPECT_FALSE (app->getController()->isConverting());
    EXPECT_EQ (app->getFileQueue()->size(), 1);
}

// The framework's own chooser is a modal box: a quit (the close button, or a signal from the
// system) closes it at once and starts no run, even with a folder in view.
class QuitDuringTheFrameworksChooser : public ApplicationTest,
                                       public ::testing::WithParamInterface<bool>
{
};

TEST_P (QuitDuringTheFrameworksChooser, ClosesItAndStartsNothing)
{
    const bool bySignal = GetParam();
    startUp();
    app->getFileQueue()->addFile (writeSample (folder.file ("in/kick.wav")));
    const auto output = folder.file ("out");
    ASSERT_TRUE (output.createDirectory());

    juce::Component::SafePointer<juce::FileChooserDialogBox> chooserBox;
    juce::uint32 quitSent = 0;
    bool stillOpenAfterQuit = false;

    WhenReady quit ([&]
    {
        if (quitSent == 0)
        {
            auto* box = findOnDesktop<juce::FileChooserDialogBox>();

            if (box == nullptr || ! box->isCurrentlyModal())
                return false;

            chooserBox = box;
            findInside<juce::FileBrowserComponent> (*box)->setRoot (output);
            quitSent = juce::Time::getMillisecondCounter();

            if (bySignal)
                ::kill (::getpid(), SIGTERM);
            else
                app->getMainWindow()->closeButtonPressed();

            return false;
        }

        // A chooser that outlives the quit is cancelled here, so that the test ends.
        if (chooserBox != nullptr && juce::Time::getMillisecondCounter() - quitSent > 5000)
        {
            stillOpenAfterQuit = true;
            findButton (*chooserBox, "Cancel")->triggerClick();
        }

        return false;
    });

    app->convert();

    EXPECT_NE (quitSent, 0u);
    EXPECT_FALSE (stillOpenAfterQuit);
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (app->getFolderChooser(), nullptr);
    EXPECT_EQ (chooserBox.getComponent(), nullptr);
    EXPECT_FALSE (app->getController()->isConverting());
    EXPECT_EQ (findAlert ("Conversion in process"), nullptr);

    app->shutdown();
    EXPECT_EQ (output.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
}

INSTANTIATE_TEST_SUITE_P (ApplicationTests, QuitDuringTheFrameworksChooser, ::testing::Values (false, true),
                          [] (const auto& test) { return test.param ? "BySignal" : "ByTheCloseButton"; });

TEST_F (ApplicationTest, APickedFolderStartsARunThatEndsWithTheCompletionBox)
{
    startUp();
    const auto output = folder.file ("picked");
    ASSERT_TRUE (output.createDirectory());
    app->getFileQueue()->addFiles ({ writeSample (folder.file ("in/kick.wav")).getFullPathName(),
                                     writeSample (folder.file ("in/snare.wav"), 22050, 22050.0).getFullPathName() });

    WhenReady pick ([&]
    {
        auto* box = findOnDesktop<juce::FileChooserDialogBox>();

        if (box == nullptr || ! box->isCurrentlyModal())
            return false;

        findInside<juce::FileBrowserComponent> (*box)->setRoot (output);

        // The dialog's confirming button is the one bound to Return.
        for (auto* child : box->getContentComponent()->getChildren())
            if (auto* button = dynamic_cast<juce::TextButton*> (child))
                if (button->isRegisteredForShortcut (juce::KeyPress (juce::KeyPress::returnKey)))
                    button->triggerClick();

        return true;
    });

    app->getCommandManager()->invokeDirectly (CommandIDs::convert, false);
    EXPECT_TRUE (pick.done());
    EXPECT_EQ (app->getFolderChooser(), nullptr);

    AnswerAlert completion ("Conversion complete", "OK");
    ASSERT_TRUE (pumpUntil ([&] { return completion.answer.done(); }));
    EXPECT_EQ (completion.message, "The conversion process is complete.");
    EXPECT_EQ (completion.buttons, juce::StringArray ({ "OK" }));
    EXPECT_TRUE (runFinished());

    for (auto name : { "kick.wav", "snare.wav" })
    {
        SCOPED_TRACE (name);
        const auto info = readWave (output.getChildFile (name));
        EXPECT_EQ (info.rate, 44100.0);
        EXPECT_EQ (info.bits, 16);
    }

    EXPECT_NEAR ((double) readWave (output.getChildFile ("kick.wav")).length, 4410.0 * 44100.0 / 48000.0, 2.0);
}

TEST_F (ApplicationTest, OnlyTheEndOfARunGivesTheCompletionBox)
{
    startUp();

    app->progressStatusUpdate (ConverterController::conversionStarted);
    app->progressStatusUpdate (static_cast<ConverterController::StatusUpdate> (1));
    pumpFor (50);
    EXPECT_EQ (findAlert ("Conversion complete"), nullptr);

    app->progressStatusUpdate (ConverterController::conversionFinished);
    auto* box = findAlert ("Conversion complete");
    ASSERT_NE (box, nullptr);
    EXPECT_EQ (messageOf (*box), "The conversion process is complete.");
    box->exitModalState (1);
}

//==============================================================================
// Each button's value reaches the waiting worker: overwrite and skip hold for one file, the "All"
// answers for the rest of the run (the second file is then not asked about).
TEST_F (ApplicationTest, EachFileExistsButtonReachesTheWorker)
{
    struct Case { const char* button; bool converted; int questions; };
    const Case cases[] = {
        { "Overwrite",     true,  2 },
        { "Skip",          false, 2 },
        { "Overwrite All", true,  1 },
        { "Skip All",      false, 1 },
    };

    startUp();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.button);
        TemporaryFolder run;
        const auto output = run.file ("out");
        run.createFile ("out/one.wav", "old");
        run.createFile ("out/two.wav", "old");

        int questions = 0;
        juce::StringArray messages;
        juce::StringArray buttons;
        bool sizedAndLooked = true;

        // Drawn with the application's look, and large enough for its four buttons.
        const auto laidOut = [] (const juce::AlertWindow& dialog)
        {
            if (dynamic_cast<CustomLook*> (&dialog.getLookAndFeel()) == nullptr || dialog.getWidth() < 350)
                return false;

            for (auto* child : dialog.getChildren())
                if (dynamic_cast<juce::TextButton*> (child) != nullptr && ! dialog.getLocalBounds().contains (child->getBounds()))
                    return false;

            return true;
        };

        // The dialog is a window from its construction on and passes through several sizes while it
        // is built. A window manager applies each of them late, and the framework reads the window's
        // size back whenever it hears of a change: for a moment before the dialog shows, it may hold
        // an earlier size. The layout is judged once it is right, or once a generous wait is over.
        juce::Component::SafePointer<juce::AlertWindow> settling;
        juce::uint32 judgeBy = 0;

        // The click lands later, from the message loop: until it has, the dialog answered last is
        // still open and modal, and must not be counted and clicked again. (A later dialog may take
        // the same address; the pointer forgets the earlier one when it is deleted.)
        juce::Component::SafePointer<juce::AlertWindow> answered;

        WhenReady answer ([&]
        {
            auto* dialog = findAlert ("File exists");

            if (dialog == nullptr || ! dialog->isCurrentlyModal() || dialog != app->getFileExistsDialog()
                 || dialog == answered.getComponent())
                return false;

            if (dialog != settling.getComponent())
            {
                settling = dialog;
                judgeBy = juce::Time::getMillisecondCounter() + 10000;
            }

            if (! laidOut (*dialog) && juce::Time::getMillisecondCounter() < judgeBy)
                return false;

            answered = dialog;
            ++questions;
            messages.add (messageOf (*dialog));
            buttons = buttonTexts (*dialog);
            sizedAndLooked = sizedAndLooked && laidOut (*dialog);

            findButton (*dialog, c.button)->triggerClick();

            // Another dialog may follow.
            return false;
        });

        startRun ({ writeSample (run.file ("in/one.wav")), writeSample (run.file ("in/two.wav")) }, output);

        // The completion box comes after the last answer and after the worker has ended (and each
        // of the two dialogs may have had the wait for its layout).
        ASSERT_TRUE (pumpUntil ([&] { return findAlert ("Conversion complete") != nullptr; }, 30000));
        ASSERT_TRUE (runFinished());

        EXPECT_EQ (questions, c.questions);
        EXPECT_EQ (messages[0], "The File " + output.getChildFile ("one.wav").getFullPathName() + " exists");
        EXPECT_EQ (buttons, juce::StringArray ({ "Overwrite", "Skip", "Overwrite All", "Skip All" }));
        EXPECT_TRUE (sizedAndLooked);

        for (auto name : { "one.wav", "two.wav" })
        {
            SCOPED_TRACE (name);
            EXPECT_EQ (readWave (output.getChildFile (name)).rate, c.converted ? 44100.0 : 0.0);
        }

        // Skipped files go back into the queue for a later run.
        EXPECT_EQ (app->getFileQueue()->size(), c.converted ? 0 : 2);
        app->getFileQueue()->clear();

        findAlert ("Conversion complete")->exitModalState (0);
        ASSERT_TRUE (pumpUntil ([] { return findAlert ("Conversion complete") == nullptr; }));
    }
}

TEST_F (ApplicationTest, AFileExistsDialogCancelledGivesSkip)
{
    startUp();
    folder.createFile ("out/one.wav", "old");

    WhenReady cancel ([&]
    {
        if (app->getFileExistsDialog() == nullptr || ! app->getFileExistsDialog()->isCurrentlyModal())
            return false;

        juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
        return true;
    });

    startRun ({ writeSample (folder.file ("in/one.wav")) }, folder.file ("out"));
    ASSERT_TRUE (pumpUntil ([&] { return runFinished(); }));
    EXPECT_TRUE (cancel.done());
    EXPECT_EQ (folder.file ("out/one.wav").loadFileAsString(), "old");
    EXPECT_EQ (app->getFileQueue()->size(), 1);
}

TEST_F (ApplicationTest, QuittingWhileTheFileExistsDialogIsOpenGivesSkip)
{
    startUp();
    folder.createFile ("out/one.wav", "old");

    WhenReady askToQuit ([&]
    {
        if (app->getFileExistsDialog() == nullptr || ! app->getFileExistsDialog()->isCurrentlyModal())
            return false;

        app->systemRequestedQuit();
        return true;
    });
    AnswerAlert confirm ("Conversion in process", "OK");

    startRun ({ writeSample (folder.file ("in/one.wav")) }, folder.file ("out"));

    // Once the quit is under way the loop dispatches nothing more; the worker ends by itself.
    ASSERT_TRUE (pumpUntil ([&] { return runFinished(); }));
    EXPECT_TRUE (confirm.answer.done());
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (app->getFileExistsDialog(), nullptr);
    EXPECT_EQ (folder.file ("out/one.wav").loadFileAsString(), "old");
    EXPECT_EQ (app->getFileQueue()->size(), 1);
}

//==============================================================================
TEST_F (ApplicationTest, QuitDuringARunAsksAndAbortsTheRunOnOk)
{
    startUp();

    // A short file, then two long ones: 16 million samples at 2000 Hz become 353 million at
    // 44100 Hz, several seconds of conversion each even in an optimised build. The run outlasts
    // the test, which aborts it long before.
    constexpr int fileCount = 3;
    constexpr int longSamples = 16000000;
    constexpr double longRate = 2000.0;
    juce::Array<juce::File> inputs;
    inputs.add (writeSample (folder.file ("in/s0.wav"), 9600));
    inputs.add (writeSample (folder.file ("in/s1.wav"), longSamples, longRate));
    ASSERT_TRUE (inputs[1].createSymbolicLink (folder.file ("in/s2.wav"), true));
    inputs.add (folder.file ("in/s2.wav"));

    const auto output = folder.file ("out");
    ASSERT_TRUE (output.createDirectory());
    startRun (inputs, output);

    // The worker takes a file from the queue as it starts on it: s0 is done and s1 in hand.
    ASSERT_TRUE (pumpUntil ([&] { return app->getFileQueue()->size() == fileCount - 2; }));

    {
        // The close button asks the same question; Cancel leaves the run going.
        AnswerAlert cancel ("Conversion in process", "Cancel");
        app->getMainWindow()->closeButtonPressed();
        ASSERT_TRUE (pumpUntil ([&] { return cancel.answer.done(); }));
        EXPECT_EQ (cancel.message, "Korvel Quillon is currently converting files. Are you sure you want to exit?");
        EXPECT_EQ (cancel.buttons, juce::StringArray ({ "OK", "Cancel" }));
        pumpFor (50);
        EXPECT_FALSE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
        EXPECT_TRUE (app->getController()->isConverting());
    }

    AnswerAlert ok ("Conversion in process", "OK");
    app->getCommandManager()->invokeDirectly (CommandIDs::quit, false);
    ASSERT_TRUE (pumpUntil ([&] { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }));
    ASSERT_TRUE (app->getController()->isConverting());

    // Releasing the window aborts the run, so taking everything down does not wait for the rest.
    const auto started = juce::Time::getMillisecondCounter();
    app->shutdown();
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 2000u);
    EXPECT_EQ (app->getMainWindow(), nullptr);
    EXPECT_EQ (app->getController(), nullptr);
    EXPECT_EQ (app->getCommandManager(), nullptr);

    // What is there is complete; the file in hand when the run stopped is gone.
    const auto outputs = output.findChildFiles (juce::File::findFiles, false);
    EXPECT_LT (outputs.size(), fileCount);
    EXPECT_TRUE (output.getChildFile ("s0.wav").existsAsFile());
    EXPECT_FALSE (output.getChildFile ("s1.wav").exists());

    for (auto& f : outputs)
    {
        SCOPED_TRACE (f.getFileName());
        const auto expected = f.getFileName() == "s0.wav" ? 8820.0 : longSamples * 44100.0 / longRate;
        EXPECT_NEAR ((double) readWave (f).length, expected, 2.0);
    }
}

//==============================================================================
TEST_F (ApplicationTest, AboutTwiceShowsOneWindowAndBringsItBack)
{
    startUp();

    app->openAboutWindow();
    auto* about = app->getAboutWindow();
    ASSERT_NE (about, nullptr);
    app->openAboutWindow();
    EXPECT_EQ (app->getAboutWindow(), about);

    int shown = 0;

    for (int i = juce::Desktop::getInstance().getNumComponents(); --i >= 0;)
        shown += dynamic_cast<AboutWindow*> (juce::Desktop::getInstance().getComponent (i)) != nullptr ? 1 : 0;

    EXPECT_EQ (shown, 1);

    // A click takes it off the desktop; the next About shows the same window again.
    about->removeFromDesktop();
    EXPECT_FALSE (about->isOnDesktop());
    app->getCommandManager()->invokeDirectly (CommandIDs::about, false);
    EXPECT_EQ (app->getAboutWindow(), about);
    EXPECT_TRUE (about->isOnDesktop());
    EXPECT_TRUE (about->isVisible());
}

TEST_F (ApplicationTest, TheUserGuideIsLookedForOnEveryCall)
{
    startUp();

    const auto guide = KorvelQuillonApplication::getUserGuideFile();
    EXPECT_EQ (guide, juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory()
                          .getChildFile ("Resources/Quillon - User Guide - v1.1.pdf"));
    const bool madeFolder = ! guide.getParentDirectory().exists();
    guide.deleteFile();

    {
        AnswerAlert missing ("Korvel Quillon", "OK");
        app->openUserGuide();
        EXPECT_TRUE (missing.answer.done());
        EXPECT_EQ (missing.message, "Unable to find user guide.\n" + guide.getFullPathName());
        EXPECT_EQ (missing.buttons, juce::StringArray ({ "OK" }));
    }

    // Put in place while the program runs, it is found and handed to the desktop's viewer.
    const auto record = tools.file ("opened.txt");
    writeScript (tools.file ("xdg-open"), "#!/bin/sh\nprintf '%s' \"$1\" > '" + record.getFullPathName() + "'\n");
    ASSERT_TRUE (guide.getParentDirectory().createDirectory());
    ASSERT_TRUE (guide.replaceWithText ("%PDF-1.4\n"));

    app->openUserGuide();
    EXPECT_TRUE (pumpUntil ([&] { return record.loadFileAsString() == guide.getFullPathName(); }, 5000));
    EXPECT_EQ (findAlert ("Korvel Quillon"), nullptr);

    guide.deleteFile();

    if (madeFolder)
        guide.getParentDirectory().deleteRecursively();
}

//==============================================================================
// Quitting from the system (signals), during the desktop's folder chooser, and with boxes open.

namespace
{
    /** The desktop's folder chooser, played by a script named zenity first on the PATH. It
        records each start and its arguments, then waits for the test's answer: a folder, which
        it prints as zenity does, or a cancel (status 1). Unanswered, it gives up after 20 s and
        leaves a mark, so that no test can hang on it. */
    class DesktopChooser
    {
    public:
        explicit DesktopChooser (const TemporaryFolder& toolsFolder) : tools (toolsFolder)
        {
            // The framework asks `which` for zenity once per process, at the first chooser.
            writeScript (tools.file ("which"), "#!/bin/sh\ncase \"$1\" in kdialog) exit 1 ;; esac\nexec /usr/bin/which \"$@\"\n");

            const auto dir = tools.get().getFullPathName().quoted ('\'');
            writeScript (tools.file ("zenity"),
                         "#!/bin/sh\n"
                         "dir=" + dir + "\n"
                         "echo $$ >> \"$dir/chooser-starts\"\n"
                         "printf '%s\\n' \"$@\" > \"$dir/chooser-arguments\"\n"
                         "waited=0\n"
                         "while [ ! -e \"$dir/answer\" ]; do\n"
                         "  sleep 0.02; waited=$((waited + 1))\n"
                         "  if [ $waited -gt 1000 ]; then touch \"$dir/unanswered\"; exit 1; fi\n"
                         "done\n"
                         "answer=$(cat \"$dir/answer\"); rm -f \"$dir/answer\"\n"
                         "[ -n \"$answer\" ] || exit 1\n"
                         "printf '%s\\n' \"$answer\"\n");
        }

        int starts() const               { return lines ("chooser-starts").size(); }
        juce::StringArray arguments() const { return lines ("chooser-arguments"); }
        bool wentUnanswered() const       { return tools.file ("unanswered").exists(); }

        /** Whether the last chooser started is still running (a killed one may stay a zombie
            until its parent ends). */
        bool isRunning() const
        {
            const auto pid = lines ("chooser-starts").strings.getLast();
            const auto stat = juce::File ("/proc/" + pid + "/stat").loadFileAsString();
            return pid.isNotEmpty() && stat.isNotEmpty() && stat.fromLastOccurrenceOf (")", false, false).trim()[0] != 'Z';
        }

        void answer (const juce::File& folder) const { reply (folder.getFullPathName()); }
        void cancel() const                          { reply ({}); }

    private:
        juce::StringArray lines (const juce::String& name) const
        {
            juce::StringArray result;
            result.addLines (tools.file (name).loadFileAsString());
            result.removeEmptyStrings();
            return result;
        }

        // Whole or not at all: the script must never read half an answer.
        void reply (const juce::String& text) const
        {
            const auto pending = tools.file ("answer.pending");
            pending.replaceWithText (text);
            pending.moveFileTo (tools.file ("answer"));
        }

        const TemporaryFolder& tools;
    };

    juce::StringArray outputNamesIn (const juce::File& folder)
    {
        juce::StringArray names;

        for (const auto& f : folder.findChildFiles (juce::File::findFilesAndDirectories, false))
            names.add (f.getFileName());

        names.sort (false);
        return names;
    }

    bool quitting() { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }
}

TEST (QuitSignals, EachSignalBecomesOneCallOnTheMessageThreadAndThePreviousHandlerReturns)
{
    for (const auto signal : QuitSignals::signals)
    {
        SCOPED_TRACE (signal);
        struct sigaction before {};
        ASSERT_EQ (::sigaction (signal, nullptr, &before), 0);

        int calls = 0;
        bool onMessageThread = false;

        {
            const auto fdsBefore = juce::LinuxEventLoopInternal::getRegisteredFds();
            QuitSignals quitSignals ([&]
            {
                ++calls;
                onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
            });

            auto watched = juce::LinuxEventLoopInternal::getRegisteredFds();
            watched.erase (std::remove_if (watched.begin(), watched.end(), [&] (int fd)
            {
                return std::find (fdsBefore.begin(), fdsBefore.end(), fd) != fdsBefore.end();
            }), watched.end());
            ASSERT_EQ (watched.size(), 1u);

            // Two at once, before the loop runs: one request.
            ::kill (::getpid(), signal);
            ::kill (::getpid(), signal);
            EXPECT_EQ (calls, 0);
            ASSERT_TRUE (pumpUntil ([&] { return calls > 0; }));
            pumpFor (50);
            EXPECT_EQ (calls, 1);
            EXPECT_TRUE (onMessageThread);

            // A pass of the loop may call again after a wait inside it has emptied the pipe:
            // no request.
            juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd (watched.front());
            EXPECT_EQ (calls, 1);
        }

        struct sigaction after {};
        ASSERT_EQ (::sigaction (signal, nullptr, &after), 0);
        EXPECT_EQ (after.sa_handler, before.sa_handler);
    }
}

TEST_F (ApplicationTest, TheDesktopChooserAsksForTheFolderAndItsAnswerStartsTheRun)
{
    const DesktopChooser chooser (tools);
    startUp();
    const auto output = folder.file ("picked");
    ASSERT_TRUE (output.createDirectory());
    app->getFileQueue()->addFile (writeSample (folder.file ("in/kick.wav")));

    bool heldWhileOpen = false;

    WhenReady pick ([&]
    {
        if (chooser.starts() == 0)
            return false;

        heldWhileOpen = app->getFolderChooser() != nullptr;
        chooser.answer (output);
        return true;
    });

    app->convert();

    EXPECT_TRUE (pick.done());
    EXPECT_FALSE (chooser.wentUnanswered());
    EXPECT_TRUE (heldWhileOpen);
    EXPECT_EQ (app->getFolderChooser(), nullptr);
    EXPECT_TRUE (chooser.arguments().contains ("--directory"));
    EXPECT_TRUE (chooser.arguments().contains ("--title=Choose output folder"));

    AnswerAlert completion ("Conversion complete", "OK");
    ASSERT_TRUE (pumpUntil ([&] { return completion.answer.done(); }));
    EXPECT_EQ (readWave (output.getChildFile ("kick.wav")).rate, 44100.0);
}

// The desktop's chooser is another program: the main window stays live while it asks, and
// whatever the user does there meanwhile is safe; the run takes the queue as it stands when
// the folder comes back, and an empty queue starts nothing.
TEST_F (ApplicationTest, TheWindowStaysUsableWhileTheDesktopChooserAsks)
{
    const DesktopChooser chooser (tools);
    startUp();

    auto& window = *app->getMainWindow();
    auto& table = *findInside<DragDrop> (window);
    auto& clearAll = *findInside<juce::Button> (window, [] (juce::Button& b) { return b.getName() == "Clear All"; });
    const auto hat = writeSample (folder.file ("in/hat.wav"));
    const auto queued = [this] { return app->getFileQueue()->size(); };

    struct Step
    {
        std::function<void()> action;
        std::function<bool()> done;
    };

    struct Case
    {
        const char* name;
        std::vector<Step> steps;
        juce::StringArray outputs;
        bool cancel = false;
    };

    const Case cases[] = {
        { "a drop and a row removal",
          { { [&] { table.filesDropped ({ hat.getFullPathName() }, 10, 10); },       [&] { return queued() == 3; } },
            { [&] { dynamic_cast<RemoveButton*> (table.getCellComponent (1, 0))->getButton().triggerClick(); },
              [&] { return queued() == 2; } } },
          { "hat.wav", "snare.wav" } },
        { "Clear All",
          { { [&] { clearAll.triggerClick(); }, [&] { return queued() == 0; } } },
          {} },
        { "Clear All, then a drop",
          { { [&] { clearAll.triggerClick(); }, [&] { return queued() == 0; } },
            { [&] { table.filesDropped ({ hat.getFullPathName() }, 10, 10); }, [&] { return queued() == 1; } } },
          { "hat.wav" } },
        { "Convert again, and About",
          { { [&] { app->getCommandManager()->invokeDirectly (CommandIDs::convert, true);
                    app->getCommandManager()->invokeDirectly (CommandIDs::about, true); },
              [&] { return app->getAboutWindow() != nullptr && app->getAboutWindow()->isOnDesktop(); } } },
          { "kick.wav", "snare.wav" } },
        { "a cancel", {}, {}, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TemporaryFolder run;
        const auto output = run.file ("out");
        ASSERT_TRUE (output.createDirectory());
        app->getFileQueue()->clear();
        app->getFileQueue()->addFiles ({ writeSample (run.file ("in/kick.wav")).getFullPathName(),
                                         writeSample (run.file ("in/snare.wav")).getFullPathName() });
        ASSERT_TRUE (pumpUntil ([&] { return table.getCellComponent (1, 1) != nullptr; }));

        const auto startsBefore = chooser.starts();
        size_t step = 0;
        bool acting = false;

        WhenReady act ([&]
        {
            if (chooser.starts() == startsBefore)
                return false;

            if (step < c.steps.size())
            {
                if (! acting)
                {
                    c.steps[step].action();
                    acting = true;
                }

                if (c.steps[step].done())
                {
                    ++step;
                    acting = false;
                }

                return false;
            }

            if (c.cancel)
                chooser.cancel();
            else
                chooser.answer (output);

            return true;
        });

        app->convert();

        ASSERT_TRUE (act.done());
        EXPECT_FALSE (chooser.wentUnanswered());
        EXPECT_EQ (chooser.starts(), startsBefore + 1);
        EXPECT_EQ (app->getFolderChooser(), nullptr);

        if (c.outputs.isEmpty())
        {
            pumpFor (200);
            EXPECT_FALSE (app->getController()->isConverting());
            EXPECT_EQ (findAlert ("Conversion complete"), nullptr);
            EXPECT_EQ (queued(), c.cancel ? 2 : 0);
        }
        else
        {
            AnswerAlert completion ("Conversion complete", "OK");
            ASSERT_TRUE (pumpUntil ([&] { return completion.answer.done(); }));
            EXPECT_EQ (queued(), 0);
        }

        EXPECT_EQ (outputNamesIn (output), c.outputs);

        if (auto* about = app->getAboutWindow())
            about->removeFromDesktop();
    }

    EXPECT_FALSE (quitting());
}

// The close button (or the Quit command) while the desktop's chooser asks: the window stays
// live; the quit comes when the chooser closes, and the folder it gave starts no run.
TEST_F (ApplicationTest, AQuitWhileTheDesktopChooserAsksWaitsForItAndStartsNoRun)
{
    const DesktopChooser chooser (tools);
    startUp();
    const auto output = folder.file ("out");
    ASSERT_TRUE (output.createDirectory());
    app->getFileQueue()->addFile (writeSample (folder.file ("in/kick.wav")));

    bool quittingWhileOpen = true;
    bool liveWhileOpen = false;
    int stage = 0;

    WhenReady quitThenAnswer ([&]
    {
        switch (stage)
        {
            case 0:
                if (chooser.starts() == 0)
                    return false;

                app->getMainWindow()->closeButtonPressed();
                app->getCommandManager()->invokeDirectly (CommandIDs::quit, true);
                app->getCommandManager()->invokeDirectly (CommandIDs::about, true);
                ++stage;
                return false;

            case 1:
                // About comes after the queued Quit: both have been handled.
                if (app->getAboutWindow() == nullptr)
                    return false;

                liveWhileOpen = app->getAboutWindow()->isOnDesktop() && chooser.isRunning();
                quittingWhileOpen = quitting();
                chooser.answer (output);
                return true;

            default:
                return true;
        }
    });

    app->convert();

    EXPECT_TRUE (quitThenAnswer.done());
    EXPECT_FALSE (chooser.wentUnanswered());
    EXPECT_TRUE (liveWhileOpen);
    EXPECT_FALSE (quittingWhileOpen);
    EXPECT_TRUE (quitting());
    EXPECT_FALSE (app->getController()->isConverting());
    EXPECT_EQ (findAlert ("Conversion in process"), nullptr);

    app->shutdown();
    EXPECT_EQ (outputNamesIn (output), juce::StringArray());
    EXPECT_EQ (app->getFileQueue(), nullptr);
}

// A quit from the system cannot wait for the user: the desktop's chooser is ended at once.
TEST_F (ApplicationTest, ASignalWhileTheDesktopChooserAsksEndsItAndStartsNothing)
{
    const DesktopChooser chooser (tools);
    startUp();
    app->getFileQueue()->addFile (writeSample (folder.file ("in/kick.wav")));

    WhenReady signal ([&]
    {
        if (chooser.starts() == 0 || ! chooser.isRunning())
            return false;

        ::kill (::getpid(), SIGTERM);
        return true;
    });

    app->convert();

    EXPECT_TRUE (signal.done());
    EXPECT_FALSE (chooser.wentUnanswered());
    EXPECT_TRUE (quitting());
    EXPECT_EQ (app->getFolderChooser(), nullptr);
    EXPECT_TRUE (pumpUntil ([&] { return ! chooser.isRunning(); }, 5000));
    EXPECT_FALSE (app->getController()->isConverting());
}

TEST_F (ApplicationTest, ASignalDuringARunQuitsWithoutAskingAndTheFileInHandIsDeleted)
{
    startUp();

    // 8 million samples at 2000 Hz become 176 million at 44100 Hz: the file is written long
    // enough for the test to see it on disk, under whatever name, before it is complete.
    const auto output = folder.file ("out");
    ASSERT_TRUE (output.createDirectory());
    startRun ({ writeSample (folder.file ("in/short.wav"), 9600),
                writeSample (folder.file ("in/long.wav"), 8000000, 2000.0) }, output);

    juce::File inHand;
    ASSERT_TRUE (pumpUntil ([&]
    {
        for (const auto& f : output.findChildFiles (juce::File::findFiles, false))
            if (f.getFileName() != "short.wav")
                inHand = f;

        return inHand != juce::File();
    }, 60000));

    constexpr juce::int64 completeSize = 44 + 176400000LL * 2;
    ASSERT_LT (inHand.getSize(), completeSize) << "written before the test saw it";

    ::kill (::getpid(), SIGTERM);
    ASSERT_TRUE (pumpUntil ([&] { return quitting(); }));
    EXPECT_EQ (findAlert ("Conversion in process"), nullptr);

    const auto started = juce::Time::getMillisecondCounter();
    app->shutdown();
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 2000u);
    EXPECT_EQ (outputNamesIn (output), juce::StringArray ({ "short.wav" }));
}

// A signal while the "File exists" dialog asks and the quit question is open over it: both
// close (the worker hears skip), and both are gone before the loop ends.
TEST_F (ApplicationTest, ASignalClosesTheFileExistsDialogAndTheQuitQuestion)
{
    startUp();
    folder.createFile ("out/one.wav", "old");

    juce::Component::SafePointer<juce::Component> question;

    WhenReady askToQuit ([&]
    {
        if (app->getFileExistsDialog() == nullptr || ! app->getFileExistsDialog()->isCurrentlyModal())
            return false;

        app->systemRequestedQuit();
        return true;
    });

    WhenReady signal ([&]
    {
        question = findAlert ("Conversion in process");

        if (question == nullptr || ! question->isCurrentlyModal())
            return false;

        ::kill (::getpid(), SIGTERM);
        return true;
    });

    startRun ({ writeSample (folder.file ("in/one.wav")) }, folder.file ("out"));
    ASSERT_TRUE (pumpUntil ([&] { return quitting() && runFinished(); }));

    EXPECT_TRUE (signal.done());
    EXPECT_EQ (app->getFileExistsDialog(), nullptr);
    EXPECT_EQ (question.getComponent(), nullptr);
    EXPECT_EQ (folder.file ("out/one.wav").loadFileAsString(), "old");
    EXPECT_EQ (app->getFileQueue()->size(), 1);
}

// A box that deletes itself when dismissed, still open when the application quits, is closed
// and deleted before the message loop ends, whichever way the quit comes.
namespace
{
    enum class QuitBy { closeButton, signal, okInQuitQuestion };

    const char* nameOf (QuitBy by)
    {
        switch (by)
        {
            case QuitBy::closeButton: return "ByTheCloseButton";
            case QuitBy::signal:      return "BySignal";
            default:                  return "ByOkInTheQuitQuestion";
        }
    }

    void PrintTo (QuitBy by, std::ostream* out) { *out << nameOf (by); }
}

class BoxOpenAtQuit : public ApplicationTest,
                      public ::testing::WithParamInterface<QuitBy>
{
};

TEST_P (BoxOpenAtQuit, IsDeletedBeforeTheLoopEnds)
{
    startUp();
    juce::Component::SafePointer<juce::Component> question;

    if (GetParam() == QuitBy::okInQuitQuestion)
    {
        // The question needs a run; the long file keeps it going.
        ASSERT_TRUE (folder.file ("out").createDirectory());
        startRun ({ writeSample (folder.file ("in/long.wav"), 8000000, 2000.0) }, folder.file ("out"));
        app->systemRequestedQuit();
        question = findAlert ("Conversion in process");
        ASSERT_NE (question, nullptr);
    }

    app->progressStatusUpdate (ConverterController::conversionFinished);
    juce::Component::SafePointer<juce::Component> completion (findAlert ("Conversion complete"));
    ASSERT_NE (completion, nullptr);

    switch (GetParam())
    {
        case QuitBy::closeButton:      app->getMainWindow()->closeButtonPressed(); break;
        case QuitBy::signal:           ::kill (::getpid(), SIGTERM); break;
        case QuitBy::okInQuitQuestion: findButton (*question, "OK")->triggerClick(); break;
    }

    ASSERT_TRUE (pumpUntil ([&] { return quitting(); }));
    pumpFor (100);

    EXPECT_EQ (completion.getComponent(), nullptr);
    EXPECT_EQ (question.getComponent(), nullptr);
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
}

INSTANTIATE_TEST_SUITE_P (ApplicationTests, BoxOpenAtQuit,
                          ::testing::Values (QuitBy::closeButton, QuitBy::signal, QuitBy::okInQuitQuestion),
                          [] (const auto& test) { return std::string (nameOf (test.param)); });

//==============================================================================
// The message boxes, the user guide's opener, and who hears the controller first.

namespace
{
    /** What a snapshot of a box shows: its most common colour (the background), whether it has
        dark pixels (its text), and where its strongly coloured pixels (an icon) lie. */
    struct BoxPixels
    {
        juce::Rectangle<int> area;
        juce::Colour background;
        bool hasDarkText = false;
        juce::Rectangle<int> colouredArea;
    };

    BoxPixels readPixels (juce::Component& box)
    {
        const auto image = box.createComponentSnapshot (box.getLocalBounds(), true, 1.0f);
        std::map<juce::uint32, int> counts;
        BoxPixels pixels;
        pixels.area = image.getBounds();

        for (int y = 0; y < image.getHeight(); ++y)
        {
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const auto colour = image.getPixelAt (x, y);
                ++counts[colour.getARGB()];
                pixels.hasDarkText = pixels.hasDarkText || (colour.isOpaque() && colour.getPerceivedBrightness() < 0.25f);
            }
        }

        const auto mostCommon = std::max_element (counts.begin(), counts.end(),
                                                  [] (const auto& a, const auto& b) { return a.second < b.second; });
        pixels.background = juce::Colour (mostCommon->first);
        pixels.colouredArea = quillon::test::boundsOf (image, [] (juce::Colour c)
        {
            return c.getAlpha() > 128 && c.getSaturation() > 0.2f && c.getBrightness() > 0.3f;
        });

        return pixels;
    }

    /** Light like the main window, with dark text, and its icon, if it has one, whole inside. */
    void expectLightBox (juce::Component& box, bool withIcon)
    {
        SCOPED_TRACE (box.getName());
        const auto pixels = readPixels (box);

        EXPECT_GT (pixels.background.getPerceivedBrightness(), 0.85f) << pixels.background.toDisplayString (true);
        EXPECT_TRUE (pixels.hasDarkText);

        if (withIcon)
        {
            EXPECT_GE (pixels.colouredArea.getWidth(), 24) << pixels.colouredArea.toString();
            EXPECT_GE (pixels.colouredArea.getHeight(), 24) << pixels.colouredArea.toString();
            EXPECT_TRUE (pixels.area.reduced (4).contains (pixels.colouredArea))
                << "icon at " << pixels.colouredArea.toString() << " in a box of " << pixels.area.toString();
        }
    }

    struct ChildProcessState
    {
        int pid;
        juce::juce_wchar state;   // 'Z' for one that has ended and was not reaped
    };

    /** The processes whose parent is this one. */
    std::vector<ChildProcessState> childrenOfThisProcess()
    {
        std::vector<ChildProcessState> children;
        const juce::String self (::getpid());

        for (const auto& entry : juce::File ("/proc").findChildFiles (juce::File::findDirectories, false))
        {
            // "pid (name) state ppid ...": the name may hold spaces and brackets.
            const auto stat = entry.getChildFile ("stat").loadFileAsString();
            const auto fields = juce::StringArray::fromTokens (stat.fromLastOccurrenceOf (")", false, false).trim(), " ", {});

            if (fields.size() > 1 && fields[1] == self)
                children.push_back ({ entry.getFileName().getIntValue(), fields[0][0] });
        }

        return children;
    }

    bool anyZombieChild()
    {
        const auto children = childrenOfThisProcess();
        return std::any_of (children.begin(), children.end(), [] (const auto& c) { return c.state == 'Z'; });
    }

    /** The guide where the application looks for it, for the life of the object. */
    struct GuideInPlace
    {
        GuideInPlace()
        {
            madeFolder = ! guide.getParentDirectory().exists();
            EXPECT_TRUE (guide.getParentDirectory().createDirectory());
            EXPECT_TRUE (guide.replaceWithText ("%PDF-1.4\n"));
        }

        ~GuideInPlace()
        {
            guide.deleteFile();

            if (madeFolder)
                guide.getParentDirectory().deleteRecursively();
        }

        const juce::File guide { KorvelQuillonApplication::getUserGuideFile() };
        bool madeFolder = false;
    };

    /** Sends key presses to the window through the X server (xdotool), so that the program
        takes them from its event loop as it takes the keyboard's. They are addressed to the
        window rather than to wherever the keyboard is, which a window manager may move. */
    bool pressKeys (juce::Component& window, const juce::StringArray& keys)
    {
        juce::StringArray command { "xdotool", "key", "--window",
                                    juce::String ((juce::pointer_sized_uint) window.getPeer()->getNativeHandle()) };
        command.addArray (keys);
        return runTool (command);
    }
}

TEST_F (ApplicationTest, EveryBoxIsLightWithItsIconWholeInside)
{
    startUp();

    // The "File exists" dialog, and the completion box at the end of its run.
    folder.createFile ("out/one.wav", "old");
    bool dialogSeen = false;

    WhenReady skip ([&]
    {
        auto* dialog = app->getFileExistsDialog();

        if (dialog == nullptr || ! dialog->isCurrentlyModal())
            return false;

        dialogSeen = true;
        expectLightBox (*dialog, false);
        findButton (*dialog, "Skip")->triggerClick();
        return true;
    });

    startRun ({ writeSample (folder.file ("in/one.wav")) }, folder.file ("out"));
    ASSERT_TRUE (pumpUntil ([&] { return skip.done() && findAlert ("Conversion complete") != nullptr; }));
    EXPECT_TRUE (dialogSeen);

    auto* completion = findAlert ("Conversion complete");
    expectLightBox (*completion, true);
    completion->exitModalState (0);

    // The missing guide's box (no guide beside the test program).
    KorvelQuillonApplication::getUserGuideFile().deleteFile();
    bool missingSeen = false;

    WhenReady dismiss ([&]
    {
        auto* box = findAlert ("Korvel Quillon");

        if (box == nullptr || ! box->isCurrentlyModal())
            return false;

        missingSeen = true;
        expectLightBox (*box, false);
        findButton (*box, "OK")->triggerClick();
        return true;
    });

    app->openUserGuide();
    EXPECT_TRUE (missingSeen);

    // The question of a quit during a run; the long file keeps the run going.
    ASSERT_TRUE (folder.file ("long").createDirectory());
    startRun ({ writeSample (folder.file ("in/long.wav"), 8000000, 2000.0) }, folder.file ("long"));
    app->systemRequestedQuit();
    auto* question = findAlert ("Conversion in process");
    ASSERT_NE (question, nullptr);
    expectLightBox (*question, true);
}

TEST_F (ApplicationTest, ReturnDoesNotAnswerTheFileExistsQuestionAndEscapeSkips)
{
    startUp();
    folder.createFile ("out/one.wav", "old");

    // Hears each Return that reaches the dialog or one of its buttons, before they handle it.
    struct ReturnWatch : juce::KeyListener
    {
        bool keyPressed (const juce::KeyPress& key, juce::Component*) override
        {
            arrived = arrived || key.isKeyCode (juce::KeyPress::returnKey);
            return false;
        }

        bool arrived = false;
    } returnWatch;

    juce::Component::SafePointer<juce::AlertWindow> dialog;
    bool returnPressed = false, escapeQueued = false, looked = false, askedAfterReturn = false, escapePressed = false;

    // The framework reads its X connection only when data arrives there: an event already read
    // into Xlib's queue by a round trip waits for the next one. A Shift sent meanwhile is that.
    const auto nudge = [&] { return dialog != nullptr && pressKeys (*dialog, { "shift" }); };

    WhenReady press ([&]
    {
        if (dialog == nullptr && ! returnPressed)
        {
            auto* open = app->getFileExistsDialog();

            if (open == nullptr || ! open->isCurrentlyModal() || open->getPeer() == nullptr)
                return false;

            dialog = open;
            dialog->addKeyListener (&returnWatch);

            for (auto* child : dialog->getChildren())
                child->addKeyListener (&returnWatch);

            returnPressed = pressKeys (*dialog, { "Return" });
            return false;
        }

        if (! returnWatch.arrived)
        {
            nudge();
            return false;
        }

        if (! escapeQueued)
        {
            // What the key set off (a button's click comes from the message loop) has been
            // posted by now, so it is done before this.
            juce::MessageManager::callAsync ([&]
            {
                askedAfterReturn = dialog != nullptr && dialog->isCurrentlyModal();
                escapePressed = dialog == nullptr || pressKeys (*dialog, { "Escape" });
                looked = true;
            });

            escapeQueued = true;
            return false;
        }

        if (! looked)
            return false;

        if (dialog != nullptr && dialog->isCurrentlyModal())
        {
            nudge();
            return false;
        }

        return true;
    });

    startRun ({ writeSample (folder.file ("in/one.wav")) }, folder.file ("out"));
    ASSERT_TRUE (pumpUntil ([&] { return looked && runFinished() && app->getFileExistsDialog() == nullptr; }));

    EXPECT_TRUE (returnPressed);
    EXPECT_TRUE (askedAfterReturn) << "Return answered the question";
    EXPECT_TRUE (escapePressed);
    EXPECT_EQ (folder.file ("out/one.wav").loadFileAsString(), "old");
    EXPECT_EQ (app->getFileQueue()->size(), 1) << "skipped, and back in the queue";
}

// The desktop's opener (xdg-open) fails, or there is none: a box says so with the guide's path,
// and the opener leaves no unreaped child behind. One that succeeds shows nothing.
TEST_F (ApplicationTest, TheUserGuideOpenersFailureShowsABoxAndLeavesNoZombie)
{
    startUp();
    const GuideInPlace inPlace;
    const auto& guide = inPlace.guide;

    struct Case { const char* name; const char* status; };   // the stand-in's exit status; none: no opener
    const Case cases[] = {
        { "an opener that finds no viewer", "3" },
        { "no opener at all",               nullptr },
        { "an opener that succeeds",        "0" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TemporaryFolder bin;
        const auto record = bin.file ("opened");

        if (c.status != nullptr)
            writeScript (bin.file ("xdg-open"), "#!/bin/sh\nprintf '%s' \"$1\" > '" + record.getFullPathName()
                                                  + "'\nexit " + c.status + "\n");

        // Only the stand-in, or nothing at all, to be found.
        const auto path = juce::SystemStats::getEnvironmentVariable ("PATH", {});
        setenv ("PATH", bin.get().getFullPathName().toRawUTF8(), 1);

        const bool succeeds = c.status != nullptr && juce::String (c.status) == "0";
        std::unique_ptr<AnswerAlert> box;

        if (! succeeds)
            box = std::make_unique<AnswerAlert> ("Korvel Quillon", "OK");

        app->getCommandManager()->invokeDirectly (CommandIDs::openUserGuide, false);

        if (succeeds)
        {
            ASSERT_TRUE (pumpUntil ([] { return childrenOfThisProcess().empty(); }));
            EXPECT_EQ (findAlert ("Korvel Quillon"), nullptr);
        }
        else
        {
            ASSERT_TRUE (pumpUntil ([&] { return box->answer.done(); }));
            EXPECT_EQ (box->message, "Unable to open user guide.\nOpen this file with a PDF viewer:\n" + guide.getFullPathName());
            EXPECT_EQ (box->buttons, juce::StringArray ({ "OK" }));
            EXPECT_FALSE (anyZombieChild()) << "the opener was not reaped";
        }

        // The opener was handed the guide's path as it is, spaces and all.
        if (c.status != nullptr)
        {
            EXPECT_EQ (record.loadFileAsString(), guide.getFullPathName());
        }

        setenv ("PATH", path.toRawUTF8(), 1);
    }

    EXPECT_TRUE (childrenOfThisProcess().empty());
}

// The application hears each controller event before the main window component: at the end of a
// run the completion box is up before the component enables its controls again.
TEST_F (ApplicationTest, TheApplicationHearsTheControllerBeforeTheWindow)
{
    startUp();

    struct EnablementWatch : juce::ComponentListener
    {
        void componentEnablementChanged (juce::Component& c) override
        {
            if (c.isEnabled())
                boxShownWhenEnabled.push_back (findAlert ("Conversion complete") != nullptr);
        }

        std::vector<bool> boxShownWhenEnabled;
    } watch;

    auto* convertButton = findInside<juce::ImageButton> (*app->getMainWindow(),
                                                         [] (juce::ImageButton& b) { return b.getName() != "Clear All"; });
    ASSERT_NE (convertButton, nullptr);
    convertButton->addComponentListener (&watch);

    ASSERT_TRUE (folder.file ("out").createDirectory());
    startRun ({ writeSample (folder.file ("in/one.wav")) }, folder.file ("out"));
    ASSERT_TRUE (pumpUntil ([&] { return ! watch.boxShownWhenEnabled.empty(); }));

    EXPECT_EQ (watch.boxShownWhenEnabled, std::vector<bool> { true });
    convertButton->removeComponentListener (&watch);
}

// The About window has no look of its own: it takes the default look, which the application
// makes the boxes' light one. It draws only its artwork and black text, so it looks the same.
TEST_F (ApplicationTest, TheAboutWindowLooksTheSameWithTheApplicationsDefaultLook)
{
    const auto snapshotOf = [] (juce::Component& c) { return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f); };

    juce::Image framework;

    {
        AboutWindow withFrameworkLook;
        framework = snapshotOf (withFrameworkLook);
    }

    startUp();
    ASSERT_NE (dynamic_cast<AlertLook*> (&juce::LookAndFeel::getDefaultLookAndFeel()), nullptr);
    app->openAboutWindow();
    const auto shown = snapshotOf (*app->getAboutWindow());

    ASSERT_EQ (shown.getBounds(), framework.getBounds());
    int differing = 0;

    for (int y = 0; y < shown.getHeight(); ++y)
        for (int x = 0; x < shown.getWidth(); ++x)
            differing += shown.getPixelAt (x, y) != framework.getPixelAt (x, y) ? 1 : 0;

    EXPECT_EQ (differing, 0);
}
