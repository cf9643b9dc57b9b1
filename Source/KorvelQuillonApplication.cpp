#include "KorvelQuillonApplication.h"

#include "ModalWait.h"
#include "ui/CommandIDs.h"
#include "ui/DragDropArea.h"
#include "ui/DragDropTableModel.h"
#include "ui/MainWindowComponent.h"

#include <iostream>
#include <optional>
#include <utility>

const juce::String KorvelQuillonApplication::smUserGuideFileName ("Quillon - User Guide - v1.1.pdf");

KorvelQuillonApplication::~KorvelQuillonApplication()
{
    // The runner skips shutdown() when start-up ends early (a second instance).
    releaseWindowsAndCommands();
}

const juce::String KorvelQuillonApplication::getApplicationName()    { return "Korvel Quillon"; }
const juce::String KorvelQuillonApplication::getApplicationVersion() { return "1.1.6"; }
bool KorvelQuillonApplication::moreThanOneInstanceAllowed()          { return false; }

void KorvelQuillonApplication::initialise (const juce::String&)
{
    // Without a display no window can be placed: say so and end, before anything is built.
    if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
    {
        const auto name = juce::SystemStats::getEnvironmentVariable ("DISPLAY", {});
        std::cerr << getApplicationName() << ": cannot open "
                  << (name.isEmpty() ? juce::String ("a display (DISPLAY is not set)") : "the display \"" + name + "\"")
                  << std::endl;
        setApplicationReturnValue (1);
        quit();
        return;
    }

   #if JUCE_LINUX || JUCE_BSD
    quitSignals = std::make_unique<QuitSignals> (&KorvelQuillonApplication::closeBoxesAndQuit);
   #endif

    commandManager = std::make_unique<juce::ApplicationCommandManager>();
    commandManager->registerAllCommandsForTarget (this);

    // Where the desktop has no alert panels for the framework, the framework draws its own
    // with the default look and feel.
    juce::LookAndFeel::setDefaultLookAndFeel (&alertLook);
    juce::LookAndFeel::getDefaultLookAndFeel().setUsingNativeAlertWindows (true);

    menuModel = std::make_unique<MainMenuModel> (commandManager.get());

    initMainWindow();
}

void KorvelQuillonApplication::initMainWindow()
{
    progress = 0.0;

    if (fileQueue != nullptr)
        fileQueue->removeAllListeners();
    else
        fileQueue = new FileQueue();

    auto* tableModel = new DragDropTableModel (*fileQueue);
    auto* dropArea = new DragDropArea (tableModel);
    auto* statusEditor = new juce::TextEditor ({}, 0);

    controller = new ConverterController (fileQueue);
    fileQueue->addListener (dropArea);

    auto* progressBar = new juce::ProgressBar (progress);

    MainWindowComponent::Ptr component (new MainWindowComponent (dropArea, progressBar, progress, statusEditor,
                                                                 controller, commandManager.get()));

   #if JUCE_MAC
    mainWindow = new MainWindow (component, controller, commandManager.get());
   #else
    // No global menu bar here: the window shows the menus above its content.
    mainWindow = new MainWindow (component, controller, commandManager.get(), menuModel.get());
   #endif

    // Last registered is called first: the application answers before the component reacts.
    controller->addListener (component.get());
    controller->addListener (this);

   #if JUCE_MAC
    appleMenuExtra = MainMenuModel::getAppleMenu (commandManager.get());
    juce::MenuBarModel::setMacMainMenu (menuModel.get(), &appleMenuExtra, {});
   #endif
}

void KorvelQuillonApplication::shutdown()
{
    releaseWindowsAndCommands();
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
}

void KorvelQuillonApplication::releaseWindowsAndCommands()
{
    // The window's destruction aborts a run; the controller's then waits for its worker. The
    // command manager and the queue outlive everything that refers to them.
    mainWindow = nullptr;
    controller = nullptr;
    fileQueue = nullptr;

   #if JUCE_MAC
    if (menuModel != nullptr)
        juce::MenuBarModel::setMacMainMenu (nullptr, nullptr, {});
   #endif

    menuModel.reset();
    commandManager.reset();
}

void KorvelQuillonApplication::anotherInstanceStarted (const juce::String&)
{
}

void KorvelQuillonApplication::systemRequestedQuit()
{
    // The desktop's folder chooser is another program: the main window stays live while it
    // asks, and the user may close it meanwhile. The quit waits for the chooser to close and
    // then starts no run. The framework's own chooser is a modal box, which the quit closes.
    if (folderChooser != nullptr && juce::FileChooser::isPlatformDialogAvailable())
    {
        quitWhenChooserCloses = true;
        return;
    }

    if (controller == nullptr || ! controller->isConverting())
    {
        closeBoxesAndQuit();
        return;
    }

    juce::AlertWindow::showOkCancelBox (juce::AlertWindow::QuestionIcon,
                                        "Conversion in process",
                                        getApplicationName() + " is currently converting files. Are you sure you want to exit?",
                                        "OK", "Cancel", nullptr,
                                        new ShutdownRequestCallback());
}

void KorvelQuillonApplication::closeBoxesAndQuit()
{
    // The boxes that delete themselves do so from the message loop, which ends with the quit:
    // closed now, they are gone before it ends.
    juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    quit();

   #if JUCE_LINUX || JUCE_BSD
    // After a modal loop has run inside the current dispatch (the folder chooser's wait, the
    // "File exists" dialog), the framework's outermost loop notices the quit only at the next
    // event, which may never come.
    QuitSignals::wakeMessageLoop();
   #endif
}

//==============================================================================
void KorvelQuillonApplication::getAllCommands (juce::Array<juce::CommandID>& commands)
{
    commands.addArray ({ CommandIDs::convert, CommandIDs::about, CommandIDs::minimize,
                         CommandIDs::bringToFront, CommandIDs::openUserGuide, CommandIDs::quit });
}

void KorvelQuillonApplication::getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result)
{
    const auto describe = [&result] (const juce::String& shortName, bool active)
    {
        result.setInfo (shortName, {}, "General", 0);
        result.setActive (active);
    };

    const bool hasMainWindow = mainWindow != nullptr;

    switch (commandID)
    {
        case CommandIDs::convert:       describe ("Convert", hasMainWindow); break;
        case CommandIDs::about:         describe ("About", true); break;
        case CommandIDs::bringToFront:  describe ("Bring to Front", true); break;
        case CommandIDs::openUserGuide: describe ("Open User Guide", true); break;

        case CommandIDs::minimize:
            describe ("Minimize", hasMainWindow);
            result.addDefaultKeypress ('m', juce::ModifierKeys::commandModifier);
            break;

        case CommandIDs::quit:
            describe ("Quit", true);
            result.addDefaultKeypress ('q', juce::ModifierKeys::commandModifier);
            break;

        default:
            break;
    }
}

bool KorvelQuillonApplication::perform (const InvocationInfo& info)
{
    switch (info.commandID)
    {
        case CommandIDs::convert:       convert(); break;
        case CommandIDs::about:         openAboutWindow(); break;
        case CommandIDs::bringToFront:  bringToFront(); break;
        case CommandIDs::openUserGuide: openUserGuide(); break;
        case CommandIDs::quit:          systemRequestedQuit(); break;

        case CommandIDs::minimize:
            if (mainWindow != nullptr)
                mainWindow->setMinimised (true);
            break;

        default:
            break;
    }

    return true;
}

//==============================================================================
void KorvelQuillonApplication::convert()
{
    // A chooser already open means this call came from inside its wait.
    if (controller == nullptr || folderChooser != nullptr
         || controller->NumberOfFilesInQueue() <= 0 || controller->isConverting())
        return;

    // Held across the wait, whatever happens to the member meanwhile.
    const ConverterController::Ptr runController (controller);
    const auto folder = askForOutputFolder();

    if (std::exchange (quitWhenChooserCloses, false))
    {
        systemRequestedQuit();
        return;
    }

    // The queue may have changed while the chooser asked; the run takes it as it is now, and an
    // empty one starts nothing. A quit that ended the wait starts nothing either.
    if (! juce::MessageManager::getInstance()->hasStopMessageBeenSent()
         && runController->SetFolder (folder.getFullPathName()))
        runController->ConvertFilesInQueue();
}

juce::File KorvelQuillonApplication::askForOutputFolder()
{
    folderChooser = std::make_unique<juce::FileChooser> ("Choose output folder",
                                                         juce::File::getSpecialLocation (juce::File::userHomeDirectory),
                                                         juce::String(), true);

    // Launched and waited for here rather than with browseForDirectory(), which would wait for
    // the desktop's chooser to close even when the application has to quit at once: deleting
    // the chooser ends it, so a quit only has to end this loop.
    std::optional<juce::File> answer;
    const juce::Component::SafePointer<juce::Component> lastFocus (juce::Component::getCurrentlyFocusedComponent());

    folderChooser->launchAsync (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectDirectories,
                                [&answer] (const juce::FileChooser& chooser) { answer = chooser.getResult(); });

    ModalWait::runUntil ([&answer] { return answer.has_value(); });

    // Gone before the answer it may still write to.
    folderChooser.reset();

    // The focus goes back where it was, as after the framework's blocking chooser.
    if (lastFocus != nullptr && lastFocus->isShowing() && ! lastFocus->isCurrentlyBlockedByAnotherModalComponent())
        lastFocus->grabKeyboardFocus();

    return answer.value_or (juce::File());
}

void KorvelQuillonApplication::bringToFront()
{
    while (mainWindow == nullptr)
        initMainWindow();

    mainWindow->setMinimised (false);
    mainWindow->toFront (true);
}

void KorvelQuillonApplication::openAboutWindow()
{
    if (aboutWindow == nullptr)
        aboutWindow = new AboutWindow();

    aboutWindow->addToDesktop();
    aboutWindow->toFront (true);
}

juce::File KorvelQuillonApplication::getUserGuideFile()
{
   #if JUCE_MAC
    return juce::File (juce::File::getSpecialLocation (juce::File::currentApplicationFile).getFullPathName()
                         + "/Contents/Resources/" + smUserGuideFileName);
   #else
    // No application bundle: the build puts the guide into "Resources" beside the executable.
    // The framework derives the executable from the path the program was started by, resolved
    // against the current folder, which the desktop's folder chooser changes; the kernel's link
    // names the real file whichever way the program was started.
    return juce::File ("/proc/self/exe").getLinkedTarget().getParentDirectory()
             .getChildFile ("Resources").getChildFile (smUserGuideFileName);
   #endif
}

void KorvelQuillonApplication::openUserGuide()
{
    // The menu that chose this item has gone; the window paints what it covered now rather than
    // at the next move of the mouse.
    if (mainWindow != nullptr)
        mainWindow->repaint();

    const auto guide = getUserGuideFile();

    if (guide.existsAsFile())
    {
        guideOpener.open (guide);
        return;
    }

    const ModalWait::Answer closed;
    juce::NativeMessageBox::showMessageBoxAsync (juce::MessageBoxIconType::NoIcon, "Korvel Quillon",
                                                 "Unable to find user guide.\n" + guide.getFullPathName(),
                                                 nullptr, closed.callback());
    closed.wait();
}

//==============================================================================
void KorvelQuillonApplication::progressChanged (double) {}
void KorvelQuillonApplication::errorOccured (juce::String) {}
void KorvelQuillonApplication::FileConverted (juce::String) {}

void KorvelQuillonApplication::progressStatusUpdate (ConverterController::StatusUpdate status)
{
    if (status == ConverterController::conversionFinished)
        juce::AlertWindow::showMessageBoxAsync (juce::AlertWindow::WarningIcon,
                                                "Conversion complete",
                                                "The conversion process is complete.",
                                                "OK", nullptr, nullptr);
}

void KorvelQuillonApplication::fileExistsError (juce::String outputPath)
{
    // The worker waits for this answer; the controller must stay until it has it.
    const ConverterController::Ptr waitingController (controller);

    fileExistsDialog = std::make_unique<juce::AlertWindow> ("File exists", "The File " + outputPath + " exists",
                                                            juce::AlertWindow::NoIcon, nullptr);
    fileExistsDialog->addButton ("Overwrite", ConverterController::overwrite);
    fileExistsDialog->addButton ("Skip", ConverterController::skip);
    fileExistsDialog->addButton ("Overwrite All", ConverterController::overwriteAll);
    fileExistsDialog->addButton ("Skip All", ConverterController::skipAll);
    fileExistsDialog->setSize (350, 300);

    // The new look lays the dialog out again, at the size its message and buttons need (the four
    // buttons alone are wider than 350).
    fileExistsDialog->setLookAndFeel (&look);

    // No button takes the keyboard focus: the first would hold it without showing it, and a
    // habitual Return would overwrite the file. The dialog keeps the keys, so Escape still skips.
    for (auto* child : fileExistsDialog->getChildren())
        if (auto* button = dynamic_cast<juce::Button*> (child))
            button->setWantsKeyboardFocus (false);

    fileExistsDialog->setWantsKeyboardFocus (true);

    // A wait ended without a button (cancelled, or the application quitting) gives 0: skip.
    const ModalWait::Answer chosen;
    fileExistsDialog->enterModalState (true, chosen.callback());
    const auto answer = chosen.wait();

    if (waitingController != nullptr)
        waitingController->resume (static_cast<ConverterController::fileExistsOptions> (answer));

    fileExistsDialog.reset();
}

//==============================================================================
void ShutdownRequestCallback::modalStateFinished (int returnValue)
{
    if (returnValue == 1)
        KorvelQuillonApplication::closeBoxesAndQuit();
}
