#include "engine/ConverterController.h"
#include "engine/FileQueue.h"
#include "support/NativeWindow.h"
#include "support/TestSupport.h"
#include "ui/CommandIDs.h"
#include "ui/CustomLook.h"
#include "ui/DragDropArea.h"
#include "ui/DragDropTableModel.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowComponent.h"

#include <BinaryData.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

using quillon::test::TemporaryFolder;
using quillon::test::makeSine;
using quillon::test::pumpFor;
using quillon::test::pumpUntil;
using quillon::test::writeAudioFile;

namespace
{
    // The component's children, back to front.
    enum ChildIndex
    {
        dropAreaIndex,
        convertIndex,
        progressBarIndex,
        statusTextIndex,
        statusTitleIndex,
        progressTitleIndex,
        clearAllIndex,
        numChildren
    };

    template <typename Type>
    Type& childAt (juce::Component& parent, int index)
    {
        if (auto* child = dynamic_cast<Type*> (parent.getChildComponent (index)))
            return *child;

        throw std::runtime_error ("unexpected child at index " + std::to_string (index));
    }

    /** Stands in for the application as the only command target. */
    struct CommandRecorder : juce::ApplicationCommandTarget
    {
        juce::ApplicationCommandTarget* getNextCommandTarget() override { return nullptr; }

        void getAllCommands (juce::Array<juce::CommandID>& ids) override
        {
            ids.addArray ({ CommandIDs::convert, CommandIDs::quit });
        }

        void getCommandInfo (juce::CommandID id, juce::ApplicationCommandInfo& info) override
        {
            info.setInfo (id == CommandIDs::convert ? "Convert" : "Quit", {}, "General", 0);

            if (id == CommandIDs::quit)
                info.addDefaultKeypress ('q', juce::ModifierKeys::commandModifier);
        }

        bool perform (const InvocationInfo& info) override
        {
            performed.push_back (info.commandID);
            return true;
        }

        std::vector<juce::CommandID> performed;
    };

    /** What the controls showed when an event had reached the component. */
    struct Observation
    {
        juce::String event;
        bool convertEnabled, clearAllEnabled, draggingAllowed;
        juce::String statusText;
    };

    /** Registered before the component, so it hears every event after the component did. */
    struct EventRecorder : ConverterController::Listener
    {
        void progressChanged (double) override {}
        void errorOccured (juce::String) override              { observe ("error"); }
        void fileExistsError (juce::String) override           {}
        void FileConverted (juce::String) override             { observe ("converted"); }

        void progressStatusUpdate (ConverterController::StatusUpdate status) override
        {
            observe (status == ConverterController::conversionStarted ? "started" : "finished");
        }

        void observe (const juce::String& event)
        {
            events.push_back (event);

            if (component == nullptr)
                return;

            observations.push_back ({ event,
                                      childAt<juce::Button> (*component, convertIndex).isEnabled(),
                                      childAt<juce::Button> (*component, clearAllIndex).isEnabled(),
                                      childAt<DragDropArea> (*component, dropAreaIndex).getTable()
                                          .getTableModel().draggingAllowed(),
                                      childAt<juce::TextEditor> (*component, statusTextIndex).getText() });
        }

        bool sawEvent (const juce::String& event) const
        {
            return std::find (events.begin(), events.end(), event) != events.end();
        }

        juce::Component* component = nullptr;
        std::vector<juce::String> events;           // every event heard
        std::vector<Observation> observations;      // each with the controls, while the component lives
    };

    /** Builds the main window's pieces the way the application does, over a real queue and
        controller. */
    struct Harness
    {
        Harness()
        {
            commands.registerAllCommandsForTarget (&target);
            commands.setFirstCommandTarget (&target);

            auto* area = new DragDropArea (new DragDropTableModel (*queue));
            auto* editor = new juce::TextEditor ({}, 0);
            controller = new ConverterController (queue);
            queue->addListener (area);
            auto* bar = new juce::ProgressBar (progress);

            component = new MainWindowComponent (area, bar, progress, editor, controller, &commands);
            controller->addListener (&recorder);
            controller->addListener (component.get());
            recorder.component = component.get();
        }

        void openWindow (juce::MenuBarModel* menuModel = nullptr)
        {
            window = new MainWindow (component, controller, &commands, menuModel);
        }

        /** Takes the window down as the application's shutdown does: the window, then the
            controller, with no delivery in between (the component stays registered). */
        void closeDown()
        {
            recorder.component = nullptr;
            window = nullptr;
            component = nullptr;
            queue->removeAllListeners();
            controller = nullptr;
        }

        /** Delivers every message posted so far: the loop hands them over in order, so all of
            them have been delivered when one posted now arrives. */
        static bool deliverPendingMessages()
        {
            auto delivered = std::make_shared<bool> (false);
            juce::MessageManager::callAsync ([delivered] { *delivered = true; });
            return pumpUntil ([delivered] { return *delivered; });
        }

        template <typename Type>
        Type& child (int index) { return childAt<Type> (*component, index); }

        juce::TextEditor& statusText() { return child<juce::TextEditor> (statusTextIndex); }
        juce::Button& convertButton()  { return child<juce::Button> (convertIndex); }
        juce::Button& clearAllButton() { return child<juce::Button> (clearAllIndex); }
        DragDropArea& dropArea()       { return child<DragDropArea> (dropAreaIndex); }

        bool controlsEnabled()
        {
            return convertButton().isEnabled() && clearAllButton().isEnabled()
                && dropArea().getTable().getTableModel().draggingAllowed();
        }

        bool controlsDisabled()
        {
            return ! convertButton().isEnabled() && ! clearAllButton().isEnabled()
                && ! dropArea().getTable().getTableModel().draggingAllowed();
        }

        bool waitForRunEnd (int timeoutMs = 20000)
        {
            return pumpUntil ([this] { return recorder.sawEvent ("finished"); }, timeoutMs);
        }

        juce::ApplicationCommandManager commands;
        CommandRecorder target;
        EventRecorder recorder;
        double progress = 0.0;
        FileQueue::Ptr queue { new FileQueue() };
        ConverterController::Ptr controller;
        MainWindowComponent::Ptr component;
        MainWindow::Ptr window;
    };

    juce::Image cachedImage (const void* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }

    int channelDistance (juce::Colour a, juce::Colour b)
    {
        return std::max ({ std::abs (a.getRed() - b.getRed()),
                           std::abs (a.getGreen() - b.getGreen()),
                           std::abs (a.getBlue() - b.getBlue()) });
    }

    /** The minimum and maximum size that a window manager reads from the window's size hints;
        empty when the hints give no such limits. */
    struct SizeLimits
    {
        juce::Point<int> min, max;
    };

    std::optional<SizeLimits> readSizeLimits (juce::Component& window)
    {
        const auto state = quillon::test::readNativeWindow (window);

        if (! state.has_value() || ! state->hints.has_value()
             || ! state->hints->minSize.has_value() || ! state->hints->maxSize.has_value())
            return {};

        return SizeLimits { *state->hints->minSize, *state->hints->maxSize };
    }

    /** Iconified by the window manager: unmapped, WM_STATE iconic, _NET_WM_STATE hidden. */
    bool isMinimisedNatively (juce::Component& window)
    {
        const auto state = quillon::test::readNativeWindow (window);
        return state.has_value() && state->iconic && state->hidden && ! state->mapped;
    }

    bool isShownNatively (juce::Component& window)
    {
        const auto state = quillon::test::readNativeWindow (window);
        return state.has_value() && ! state->iconic && ! state->hidden && state->mapped;
    }
}

//==============================================================================
TEST (MainWindowComponentTest, ChildrenBackToFrontAndTheirLayout)
{
    Harness h;
    h.component->setSize (420, 720);

    ASSERT_EQ (h.component->getNumChildComponents(), numChildren);

    struct Expected { int index; juce::Rectangle<int> bounds; };

    for (const auto& [index, bounds] : { Expected { dropAreaIndex,      { 16, 100, 389, 280 } },
                                         Expected { convertIndex,       { 290, 381, 111, 32 } },
                                         Expected { progressBarIndex,   { 16, 440, 389, 25 } },
                                         Expected { statusTextIndex,    { 16, 508, 382, 169 } },
                                         Expected { statusTitleIndex,   { 16, 485, 389, 25 } },
                                         Expected { progressTitleIndex, { 16, 470, 389, 15 } },
                                         Expected { clearAllIndex,      { 27, 381, 13, 13 } } })
    {
        auto* childComponent = h.component->getChildComponent (index);
        EXPECT_EQ (childComponent->getBounds(), bounds) << "child " << index;
        EXPECT_TRUE (childComponent->isVisible()) << "child " << index;
    }

    EXPECT_NO_THROW (h.child<DragDropArea> (dropAreaIndex));
    EXPECT_NO_THROW (h.child<juce::ImageButton> (convertIndex));
    EXPECT_NO_THROW (h.child<juce::ProgressBar> (progressBarIndex));
    EXPECT_NO_THROW (h.child<juce::TextEditor> (statusTextIndex));
    EXPECT_EQ (h.child<juce::Label> (statusTitleIndex).getText(), "CONVERSION STATUS");
    EXPECT_EQ (h.child<juce::Label> (progressTitleIndex).getText(), "Progress");
    EXPECT_EQ (h.child<juce::ImageButton> (clearAllIndex).getName(), "Clear All");
    EXPECT_TRUE (h.controlsEnabled());
}

TEST (MainWindowComponentTest, LayoutFollowsTheDropAreaSize)
{
    Harness h;
    h.component->setSize (420, 720);

    h.dropArea().setSize (300, 200);
    h.component->resized();

    EXPECT_EQ (h.dropArea().getBounds(), juce::Rectangle<int> (16, 100, 300, 200));
    EXPECT_EQ (h.convertButton().getBounds(), juce::Rectangle<int> (290, 301, 111, 32));
    EXPECT_EQ (h.clearAllButton().getBounds(), juce::Rectangle<int> (27, 301, 13, 13));
    EXPECT_EQ (h.child<juce::ProgressBar> (progressBarIndex).getBounds(), juce::Rectangle<int> (16, 440, 300, 25));
    EXPECT_EQ (h.child<juce::Label> (progressTitleIndex).getBounds(), juce::Rectangle<int> (16, 470, 300, 15));
    EXPECT_EQ (h.child<juce::Label> (statusTitleIndex).getBounds(), juce::Rectangle<int> (16, 485, 300, 25));
    EXPECT_EQ (h.statusText().getBounds(), juce::Rectangle<int> (16, 508, 382, 169)) << "keeps the frame's size";
}

TEST (MainWindowComponentTest, LabelsUseAFaceThatDrawsAndTheStatusBoxIsReadOnly)
{
    Harness h;
    h.component->setSize (420, 720);

    const auto hasHelvetica = juce::Font::findAllTypefaceNames().contains ("Helvetica");
    const auto expectedFace = hasHelvetica ? juce::String ("Helvetica") : juce::Font::getDefaultSansSerifFontName();

    struct Expected { int index; float height; bool italic; };

    for (const auto& [index, height, italic] : { Expected { statusTitleIndex, 16.0f, false },
                                                 Expected { progressTitleIndex, 11.0f, true } })
    {
        const auto& label = h.child<juce::Label> (index);
        const auto font = label.getFont();
        EXPECT_EQ (font.getTypefaceName(), expectedFace);
        EXPECT_FLOAT_EQ (font.getHeight(), height);
        EXPECT_EQ (font.isItalic(), italic);
        EXPECT_FALSE (font.isBold());
        EXPECT_GT (font.getStringWidthFloat (label.getText()), 0.0f) << "the face has glyphs";
        EXPECT_EQ (label.findColour (juce::Label::textColourId), juce::Colour (133, 133, 133));
        EXPECT_FALSE (label.isEditable());
    }

    auto& status = h.statusText();
    EXPECT_TRUE (status.isReadOnly());
    EXPECT_TRUE (status.isMultiLine());
    EXPECT_FALSE (status.isCaretVisible());
    EXPECT_TRUE (status.findColour (juce::TextEditor::backgroundColourId).isTransparent());

    h.component->errorOccured ("Error: /" + juce::String::repeatedString ("deep folder/", 30) + "x.wav\ncan not be opened");
    EXPECT_LE (status.getTextWidth(), status.getWidth()) << "long paths wrap";
}

TEST (MainWindowComponentTest, ConvertImagesAndBarAndStatusColours)
{
    Harness h;

    auto& convert = h.child<juce::ImageButton> (convertIndex);
    EXPECT_EQ (convert.getNormalImage(), cachedImage (BinaryData::Korvel_Quiln_ConvertButton_Off_png,
                                                      BinaryData::Korvel_Quiln_ConvertButton_Off_pngSize));
    EXPECT_EQ (convert.getOverImage(), cachedImage (BinaryData::Korvel_Quiln_ConvertButton_Hover_png,
                                                    BinaryData::Korvel_Quiln_ConvertButton_Hover_pngSize));
    EXPECT_EQ (convert.getDownImage(), cachedImage (BinaryData::Korvel_Quiln_ConvertButton_Press_png,
                                                    BinaryData::Korvel_Quiln_ConvertButton_Press_pngSize));

    auto& bar = h.child<juce::ProgressBar> (progressBarIndex);
    EXPECT_EQ (bar.findColour (juce::ProgressBar::foregroundColourId), juce::Colours::darkred);
    EXPECT_EQ (bar.findColour (juce::ProgressBar::backgroundColourId), juce::Colours::lightgrey);

    auto& status = h.statusText();

    for (const auto id : { juce::TextEditor::backgroundColourId,
                           juce::TextEditor::shadowColourId,
                           juce::TextEditor::focusedOutlineColourId })
        EXPECT_EQ (status.findColour (id), juce::Colours::transparentWhite) << "colour id " << id;
}

TEST (MainWindowComponentTest, StatusLogShowsEveryEntryWithTheLastLineInView)
{
    Harness h;
    h.component->setSize (420, 720);

    juce::String expected;

    for (int i = 0; i < 15; ++i)
    {
        const auto error = "Error: /samples/take" + juce::String (i) + ".wav\ncan not be opened";
        h.component->errorOccured (error);
        h.component->FileConverted ("KICK" + juce::String (i) + ".wav");
        expected << error << "\n" << "KICK" << i << ".wav Successfuly converted\n";

        ASSERT_EQ (h.statusText().getText(), expected) << "after entry " << i;
    }

    auto& status = h.statusText();
    const auto total = status.getTotalNumChars();
    EXPECT_EQ (status.getCaretPosition(), total - 1) << "before the final line break";
    EXPECT_TRUE (status.getLocalBounds().contains (status.getCaretRectangleForCharIndex (total - 1)))
        << "the last line is in view";
    EXPECT_LT (status.getCaretRectangleForCharIndex (0).getY(), 0) << "the first lines are scrolled away";
}

TEST (MainWindowComponentTest, RunStartEmptiesTheLogAndDisablesControlsUntilTheEnd)
{
    Harness h;
    h.component->errorOccured ("Error writing to: /out/OLD.wav");

    h.component->progressStatusUpdate (ConverterController::conversionStarted);
    EXPECT_EQ (h.statusText().getText(), "");
    EXPECT_TRUE (h.controlsDisabled());

    h.component->FileConverted ("NEW.wav");
    EXPECT_EQ (h.statusText().getText(), "NEW.wav Successfuly converted\n") << "the old log is gone";

    h.component->progressStatusUpdate (ConverterController::conversionFinished);
    EXPECT_TRUE (h.controlsEnabled());
    EXPECT_EQ (h.statusText().getText(), "NEW.wav Successfuly converted\n") << "the log stays after the run";
}

TEST (MainWindowComponentTest, OtherStatusValuesAndFileExistsChangeNothing)
{
    for (const bool running : { false, true })
    {
        Harness h;

        if (running)
            h.component->progressStatusUpdate (ConverterController::conversionStarted);

        h.component->errorOccured ("Converted sample size too large");
        const auto text = h.statusText().getText();

        for (const int value : { 1, 3, -1 })
            h.component->progressStatusUpdate (static_cast<ConverterController::StatusUpdate> (value));

        h.component->fileExistsError ("/out/KICK.wav");

        EXPECT_EQ (h.statusText().getText(), text) << "running " << running;
        EXPECT_TRUE (running ? h.controlsDisabled() : h.controlsEnabled()) << "running " << running;
    }
}

TEST (MainWindowComponentTest, ProgressValueFollowsTheController)
{
    Harness h;

    for (const double value : { 0.0, 0.625, 1.0 })
    {
        h.component->progressChanged (value);
        EXPECT_EQ (h.progress, value);
    }
}

TEST (MainWindowComponentTest, ConvertInvokesTheConvertCommandOnceAsynchronously)
{
    Harness h;

    h.component->buttonClicked (&h.convertButton());
    EXPECT_TRUE (h.target.performed.empty()) << "the command runs later from the message loop";
    ASSERT_TRUE (pumpUntil ([&] { return ! h.target.performed.empty(); }, 2000));
    EXPECT_EQ (h.target.performed, std::vector<juce::CommandID> { CommandIDs::convert });

    h.target.performed.clear();
    h.convertButton().triggerClick();
    pumpFor (200);
    EXPECT_EQ (h.target.performed, std::vector<juce::CommandID> { CommandIDs::convert });
    EXPECT_EQ (h.queue->size(), 0) << "an empty queue is left to the command";
}

TEST (MainWindowComponentTest, ClearAllEmptiesTheQueueAndTheTableFollows)
{
    Harness h;
    h.component->setSize (420, 720);
    TemporaryFolder folder;
    h.queue->addFiles ({ folder.createFile ("a.wav").getFullPathName(),
                         folder.createFile ("b.aiff").getFullPathName() });

    auto& table = h.dropArea().getTable();
    ASSERT_TRUE (pumpUntil ([&] { return table.getCellComponent (1, 1) != nullptr; }, 2000));

    h.clearAllButton().triggerClick();

    ASSERT_TRUE (pumpUntil ([&] { return h.queue->size() == 0; }, 2000));
    EXPECT_TRUE (pumpUntil ([&] { return table.getCellComponent (1, 0) == nullptr; }, 2000));
    EXPECT_TRUE (h.target.performed.empty()) << "clear-all invokes no command";
}

TEST (MainWindowComponentTest, RunOverAnUnreadableAndAGoodFile)
{
    Harness h;
    h.component->setSize (420, 720);
    TemporaryFolder inputs, outputs;

    const auto broken = inputs.createFile ("broken.wav", "this is not audio");
    const auto kick = inputs.file ("KICK.wav");
    ASSERT_TRUE (writeAudioFile (kick, makeSine (1, 4800, 48000.0, 440.0), 48000.0));
    h.queue->addFiles ({ broken.getFullPathName(), kick.getFullPathName() });
    ASSERT_EQ (h.queue->size(), 2);

    h.component->FileConverted ("STALE.wav");
    ASSERT_TRUE (h.controller->SetFolder (outputs.get().getFullPathName()));
    h.controller->ConvertFilesInQueue();
    ASSERT_TRUE (h.waitForRunEnd());

    const auto expected = "Error: " + broken.getFullPathName() + "\ncan not be opened\n"
                        + "KICK.wav Successfuly converted\n";
    auto& status = h.statusText();
    EXPECT_EQ (status.getText(), expected);
    EXPECT_EQ (status.getCaretPosition(), status.getTotalNumChars() - 1);
    EXPECT_TRUE (status.getLocalBounds().contains (status.getCaretRectangleForCharIndex (status.getTotalNumChars() - 1)));
    EXPECT_EQ (h.progress, 1.0);
    EXPECT_TRUE (outputs.file ("KICK.wav").existsAsFile());

    const auto& seen = h.recorder.observations;
    ASSERT_GE (seen.size(), 4u);
    EXPECT_EQ (seen.front().event, "started");
    EXPECT_EQ (seen.front().statusText, "") << "the start empties the log before any file is reported";
    EXPECT_EQ (seen.back().event, "finished");

    for (const auto& o : seen)
    {
        const bool shouldBeEnabled = o.event == "finished";
        EXPECT_EQ (o.convertEnabled, shouldBeEnabled) << o.event;
        EXPECT_EQ (o.clearAllEnabled, shouldBeEnabled) << o.event;
        EXPECT_EQ (o.draggingAllowed, shouldBeEnabled) << o.event;
    }

    EXPECT_TRUE (h.controlsEnabled());
}

//==============================================================================
TEST (MainWindowTest, FixedSizeCentredWithMinimiseAndCloseOnly)
{
    Harness h;
    h.openWindow();
    auto& window = *h.window;

    EXPECT_EQ (window.getName(), "Korvel Quillon");
    EXPECT_EQ (window.getBackgroundColour(), juce::Colour (153, 153, 153));
    EXPECT_EQ (window.getDesktopWindowStyleFlags() & (juce::ComponentPeer::windowHasMinimiseButton
                                                      | juce::ComponentPeer::windowHasMaximiseButton
                                                      | juce::ComponentPeer::windowHasCloseButton
                                                      | juce::ComponentPeer::windowIsResizable),
              juce::ComponentPeer::windowHasMinimiseButton | juce::ComponentPeer::windowHasCloseButton);
    EXPECT_TRUE (window.isUsingNativeTitleBar());
    EXPECT_TRUE (window.isOnDesktop());
    EXPECT_TRUE (window.isVisible());
    EXPECT_FALSE (window.isResizable());
    EXPECT_EQ (window.getContentComponent(), h.component.get());
    EXPECT_NE (dynamic_cast<CustomLook*> (&h.child<juce::ProgressBar> (progressBarIndex).getLookAndFeel()), nullptr);

    const auto display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    EXPECT_LE (window.getBounds().getCentre().getDistanceFrom (display.getCentre()), 1);

    // The test runs under a window manager, which carries out minimising and restoring. It
    // animates the restore; a window back in its place is done with it.
    ASSERT_TRUE (quillon::test::windowManagerIsRunning());
    ASSERT_TRUE (pumpUntil ([&] { return isShownNatively (window); }));
    ASSERT_TRUE (quillon::test::syncWithWindowManager (window));
    const auto shownArea = quillon::test::readNativeWindow (window)->area;

    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE (round);
        window.setMinimised (true);
        ASSERT_TRUE (pumpUntil ([&] { return isMinimisedNatively (window); }));
        EXPECT_TRUE (window.isMinimised());

        window.setMinimised (false);
        ASSERT_TRUE (pumpUntil ([&] { return isShownNatively (window)
                                          && quillon::test::readNativeWindow (window)->area == shownArea; }));
        EXPECT_FALSE (window.isMinimised());

        EXPECT_EQ (window.getWidth(), 420);
        EXPECT_EQ (window.getHeight(), 720);
        EXPECT_EQ (h.component->getBounds(), juce::Rectangle<int> (0, 0, 420, 720));
    }

    const auto limits = readSizeLimits (window);
    ASSERT_TRUE (limits.has_value());
    EXPECT_EQ (limits->min, juce::Point<int> (420, 720));
    EXPECT_EQ (limits->max, juce::Point<int> (420, 720));
}

TEST (MainWindowTest, MenuBarGrowsTheWindowAndKeepsTheContentSize)
{
    struct EmptyMenus : juce::MenuBarModel
    {
        juce::StringArray getMenuBarNames() override { return { "File" }; }
        juce::PopupMenu getMenuForIndex (int, const juce::String&) override { return {}; }
        void menuItemSelected (int, int) override {}
    };

    EmptyMenus menus;
    {
        Harness h;
        h.openWindow (&menus);

        auto* menuBar = h.window->getMenuBarComponent();
        ASSERT_NE (menuBar, nullptr);
        const auto menuBarHeight = menuBar->getHeight();
        EXPECT_GT (menuBarHeight, 0);
        EXPECT_EQ (h.window->getHeight(), 720 + menuBarHeight);
        EXPECT_EQ (h.window->getWidth(), 420);
        EXPECT_EQ (h.component->getBounds(), juce::Rectangle<int> (0, menuBarHeight, 420, 720));

        const auto limits = readSizeLimits (*h.window);
        ASSERT_TRUE (limits.has_value());
        EXPECT_EQ (limits->min, juce::Point<int> (420, 720 + menuBarHeight));
        EXPECT_EQ (limits->max, juce::Point<int> (420, 720 + menuBarHeight));
    }
}

TEST (MainWindowTest, SnapshotShowsBackgroundStatusFrameAndBlueProgressBar)
{
    Harness h;
    h.openWindow();
    h.progress = 1.0;
    pumpFor (200);

    const auto shot = h.window->createComponentSnapshot (h.window->getLocalBounds(), true, 1.0f);
    ASSERT_EQ (shot.getBounds(), juce::Rectangle<int> (0, 0, 420, 720));

    // The background stretched over the whole component, on the window's grey.
    juce::Image expectedBackground (juce::Image::ARGB, 420, 720, true);
    {
        juce::Graphics g (expectedBackground);
        g.fillAll (juce::Colour::greyLevel (0.6f));
        const auto background = cachedImage (BinaryData::Korvel_Quiln_Background_png,
                                              BinaryData::Korvel_Quiln_Background_pngSize);
        g.setColour (juce::Colours::black);
        g.drawImage (background, 0, 0, 420, 720, 0, 0, background.getWidth(), background.getHeight());
    }

    for (const auto point : { juce::Point<int> (5, 5), juce::Point<int> (300, 60), juce::Point<int> (5, 715),
                              juce::Point<int> (415, 715), juce::Point<int> (200, 420) })
        EXPECT_LE (channelDistance (shot.getPixelAt (point.x, point.y),
                                    expectedBackground.getPixelAt (point.x, point.y)), 2) << point.toString();

    // The status frame at its natural size at (16, 508), seen through the empty status box.
    const auto frame = cachedImage (BinaryData::Korvel_Quiln_ConvertedFiles_png,
                                    BinaryData::Korvel_Quiln_ConvertedFiles_pngSize);

    for (const auto point : { juce::Point<int> (40, 40), juce::Point<int> (191, 84), juce::Point<int> (370, 160) })
    {
        const auto expected = expectedBackground.getPixelAt (16 + point.x, 508 + point.y)
                                  .overlaidWith (frame.getPixelAt (point.x, point.y));
        EXPECT_LE (channelDistance (shot.getPixelAt (16 + point.x, 508 + point.y), expected), 2) << point.toString();
    }

    // The bar's gradient from CustomLook, not its dark red foreground colour.
    const auto top = shot.getPixelAt (16 + 10, 440 + 1);
    const auto lower = shot.getPixelAt (16 + 10, 440 + 20);
    EXPECT_LE (channelDistance (top, juce::Colour (49, 177, 249)), 8) << top.toString();
    EXPECT_LE (channelDistance (lower, juce::Colour (43, 160, 238)), 2) << lower.toString();

    // "Clear All" in black to the right of the cross.
    int darkPixels = 0;

    for (int y = 381; y < 394; ++y)
        for (int x = 41; x < 100; ++x)
            if (shot.getPixelAt (x, y).getPerceivedBrightness() < 0.2f)
                ++darkPixels;

    EXPECT_GT (darkPixels, 20);
}

TEST (MainWindowTest, SnapshotShowsTheLightGreyBarRightOfTheFill)
{
    Harness h;
    h.openWindow();

    for (const double value : { 0.0, 0.5 })
    {
        h.progress = value;
        pumpFor (200);

        const auto shot = h.window->createComponentSnapshot (h.window->getLocalBounds(), true, 1.0f);

        // Near the bar's right end: beyond the fill and clear of the centred percentage.
        for (const auto point : { juce::Point<int> (16 + 350, 440 + 3), juce::Point<int> (16 + 380, 440 + 20) })
            EXPECT_EQ (shot.getPixelAt (point.x, point.y).withAlpha ((juce::uint8) 255), juce::Colour (211, 211, 211))
                << "progress " << value << " at " << point.toString();
    }
}

TEST (MainWindowTest, UnconsumedKeyPressesReachTheCommandManager)
{
    Harness h;
    h.openWindow();

    auto* peer = h.window->getPeer();
    ASSERT_NE (peer, nullptr);
    EXPECT_TRUE (peer->handleKeyPress (juce::KeyPress ('q', juce::ModifierKeys::commandModifier, 0)));
    pumpFor (50);

    EXPECT_EQ (h.target.performed, std::vector<juce::CommandID> { CommandIDs::quit });
}

TEST (MainWindowTest, CloseButtonAsksTheApplicationToQuit)
{
    struct QuitRecorder : juce::JUCEApplication
    {
        const juce::String getApplicationName() override    { return "Korvel Quillon"; }
        const juce::String getApplicationVersion() override { return "1.1.6"; }
        void initialise (const juce::String&) override      {}
        void shutdown() override                            {}
        void systemRequestedQuit() override                 { ++quitRequests; }

        int quitRequests = 0;
    };

    QuitRecorder app;
    Harness h;
    h.openWindow();

    auto* peer = h.window->getPeer();
    ASSERT_NE (peer, nullptr);
    peer->handleUserClosingWindow();

    EXPECT_EQ (app.quitRequests, 1);
    EXPECT_TRUE (h.window->isVisible()) << "the window itself does not close";
    EXPECT_TRUE (h.window->isOnDesktop());
}

TEST (MainWindowTest, DestroyingDuringARunStopsItWithoutPartialOutput)
{
    Harness h;
    h.openWindow();
    TemporaryFolder inputs, outputs;

    // The first file is long enough that the run is still on it when the window goes.
    juce::StringArray paths;

    for (const auto& [name, seconds] : { std::pair { "LONG.wav", 180 }, std::pair { "SHORT.wav", 1 } })
    {
        const auto file = inputs.file (name);
        ASSERT_TRUE (writeAudioFile (file, makeSine (2, 48000 * seconds, 48000.0, 440.0), 48000.0));
        paths.add (file.getFullPathName());
    }

    h.queue->addFiles (paths);
    ASSERT_TRUE (h.controller->SetFolder (outputs.get().getFullPathName()));
    h.controller->ConvertFilesInQueue();
    ASSERT_TRUE (pumpUntil ([&] { return h.progress > 0.0; }));
    ASSERT_LT (h.progress, 0.5) << "still on the first file";

    // The harness keeps the content alive, so that it can still hear whatever the controller
    // posts once the window has gone.
    h.window = nullptr;
    ASSERT_TRUE (pumpUntil ([&] { return ! h.controller->isThreadRunning(); })) << "the run stops";
    ASSERT_TRUE (Harness::deliverPendingMessages());

    EXPECT_FALSE (h.recorder.sawEvent ("converted"));
    EXPECT_FALSE (h.recorder.sawEvent ("finished"));
    EXPECT_FALSE (h.recorder.sawEvent ("error"));
    EXPECT_EQ (outputs.get().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0)
        << "no partial output is left";

    h.closeDown();
}

TEST (MainWindowTest, DestroyingWithoutARunChangesNothing)
{
    Harness h;
    h.openWindow();
    TemporaryFolder inputs;
    h.queue->addFiles ({ inputs.createFile ("a.wav").getFullPathName() });
    ASSERT_TRUE (Harness::deliverPendingMessages());

    const auto eventsBefore = h.recorder.events.size();
    h.window = nullptr;
    EXPECT_EQ (h.component->getReferenceCount(), 1) << "the window let its content go";

    // The content still listens, so whatever the window's end posted would be heard.
    ASSERT_TRUE (Harness::deliverPendingMessages());
    EXPECT_EQ (h.recorder.events.size(), eventsBefore);
    EXPECT_FALSE (h.controller->isConverting());

    juce::Component::SafePointer<juce::Component> content (h.component.get());
    h.recorder.component = nullptr;
    h.component = nullptr;
    h.queue->removeAllListeners();
    EXPECT_TRUE (content == nullptr);
    EXPECT_EQ (h.queue->size(), 1);
    EXPECT_EQ (h.controller->getReferenceCount(), 1) << "the window and its content let the controller go";
}

TEST (MainWindowTest, ContentStillReferencedElsewhereOutlivesTheWindow)
{
    Harness h;
    h.openWindow();

    juce::Component::SafePointer<juce::Component> content (h.component.get());
    h.window = nullptr;

    ASSERT_TRUE (content != nullptr) << "the framework window must not delete shared content";
    EXPECT_EQ (h.component->getParentComponent(), nullptr);
    EXPECT_EQ (h.component->getReferenceCount(), 1);

    h.recorder.component = nullptr;
    h.component = nullptr;
    EXPECT_TRUE (content == nullptr);
}
