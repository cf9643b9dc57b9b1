#include "KorvelQuillonApplication.h"
#include "support/TestSupport.h"
#include "ui/CommandIDs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

// Quitting ends the message loop for good, so a test that quits must be the last thing its
// process does; CTest runs every test case in a process of its own.

using quillon::test::pumpFor;
using quillon::test::pumpUntil;
using quillon::test::TemporaryFolder;

namespace
{
    juce::JUCEApplicationBase* noFactory() { return nullptr; }

    template <typename ComponentType>
    ComponentType* findOnDesktop (const std::function<bool (ComponentType&)>& matches = {})
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = desktop.getNumComponents(); --i >= 0;)
            if (auto* c = dynamic_cast<ComponentType*> (desktop.getComponent (i)))
                if (c->isVisible() && (! matches || matches (*c)))
                    return c;

        return nullptr;
    }

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

    juce::Button* findButton (juce::Component& parent, const juce::String& text)
    {
        for (auto* child : parent.getChildren())
        {
            if (auto* button = dynamic_cast<juce::TextButton*> (child); button != nullptr && button->getButtonText() == text)
                return button;

            if (auto* inner = findButton (*child, text))
                return inner;
        }

        return nullptr;
    }

    /** A shell script (replaceWithText would end its lines with CR LF). */
    void writeScript (const juce::File& file, const juce::String& text)
    {
        ASSERT_TRUE (file.replaceWithText (text, false, false, "\n"));
        ASSERT_TRUE (file.setExecutePermission (true));
    }

    juce::FileBrowserComponent* findBrowser (juce::Component& parent)
    {
        if (auto* browser = dynamic_cast<juce::FileBrowserComponent*> (&parent))
            return browser;

        for (auto* child : parent.getChildren())
            if (auto* browser = findBrowser (*child))
                return browser;

        return nullptr;
    }

    /** The text of an alert window's message (the window describes itself as "title. message"). */
    juce::String messageOf (juce::AlertWindow& alert)
    {
        return alert.getDescription().fromFirstOccurrenceOf (alert.getName() + ". ", false, false);
    }

    /** Runs a step from the message loop every few milliseconds until it returns true. Modal
        loops (folder chooser, dialogs) keep the message loop running, so this is how a test
        answers them. */
    class WhenReady : private juce::Timer
    {
    public:
        explicit WhenReady (std::function<bool()> stepToRun) : step (std::move (stepToRun)) { startTimer (10); }
        ~WhenReady() override { stopTimer(); }

        bool done() const noexcept { return finished; }

    private:
        void timerCallback() override
        {
            if (step())
            {
                finished = true;
                stopTimer();
            }
        }

        std::function<bool()> step;
        bool finished = false;
    };

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

    // Iconifying needs a window manager, which the test display lacks: only the window's
    // survival is checked here.
    auto* window = app->getMainWindow();
    EXPECT_TRUE (commands->invokeDirectly (CommandIDs::minimize, false));
    EXPECT_TRUE (commands->invokeDirectly (CommandIDs::bringToFront, false));
    EXPECT_FALSE (window->isMinimised());
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

            if (auto* browser = findBrowser (*box))
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

TEST_F (ApplicationTest, AQuitWhileTheChooserIsOpenIsIgnored)
{
    startUp();
    app->getFileQueue()->addFile (writeSample (folder.file ("kick.wav")));

    bool quitWhileOpen = true;

    WhenReady cancel ([&]
    {
        auto* box = findOnDesktop<juce::FileChooserDialogBox>();

        if (box == nullptr || ! box->isCurrentlyModal())
            return false;

        app->systemRequestedQuit();
        quitWhileOpen = juce::MessageManager::getInstance()->hasStopMessageBeenSent();
        findButton (*box, "Cancel")->triggerClick();
        return true;
    });

    app->convert();

    EXPECT_TRUE (cancel.done());
    EXPECT_FALSE (quitWhileOpen);
    EXPECT_EQ (app->getFolderChooser(), nullptr);

    app->systemRequestedQuit();
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
}

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

        findBrowser (*box)->setRoot (output);

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

        WhenReady answer ([&]
        {
            auto* dialog = findAlert ("File exists");

            if (dialog == nullptr || ! dialog->isCurrentlyModal() || dialog != app->getFileExistsDialog())
                return false;

            ++questions;
            messages.add (messageOf (*dialog));
            buttons = buttonTexts (*dialog);
            // Drawn with the application's look, and large enough for its four buttons.
            sizedAndLooked = sizedAndLooked && dynamic_cast<CustomLook*> (&dialog->getLookAndFeel()) != nullptr
                                 && dialog->getWidth() >= 350;

            for (auto* child : dialog->getChildren())
                if (dynamic_cast<juce::TextButton*> (child) != nullptr)
                    sizedAndLooked = sizedAndLooked && dialog->getLocalBounds().contains (child->getBounds());

            findButton (*dialog, c.button)->triggerClick();

            // Wait for this dialog to go before looking for the next one.
            return false;
        });

        startRun ({ writeSample (run.file ("in/one.wav")), writeSample (run.file ("in/two.wav")) }, output);
        ASSERT_TRUE (pumpUntil ([&] { return runFinished() && app->getFileExistsDialog() == nullptr; }));
        pumpFor (20);

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

        if (auto* box = findAlert ("Conversion complete"))
            box->exitModalState (1);
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

    // A short file, then two long ones: 8 million samples at 1000 Hz become 353 million at
    // 44100 Hz, several seconds of conversion each even in an optimised build. The run outlasts
    // the test, which aborts it long before.
    constexpr int fileCount = 3;
    constexpr int longSamples = 8000000;
    constexpr double longRate = 1000.0;
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
