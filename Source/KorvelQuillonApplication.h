#pragma once

#include "QuitSignals.h"
#include "engine/ConverterController.h"
#include "engine/FileQueue.h"
#include "ui/AboutWindow.h"
#include "ui/AlertLook.h"
#include "ui/CustomLook.h"
#include "ui/MainMenuModel.h"
#include "ui/MainWindow.h"
#include "ui/UserGuideOpener.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The application: builds the user interface, owns the long-lived objects, defines and performs
    the six commands, asks for the output folder that starts a run, and hears from the controller
    the end of a run and each output file that exists already. Everything here runs on the message
    thread. */
class KorvelQuillonApplication : public juce::JUCEApplication,
                                 public ConverterController::Listener
{
public:
    KorvelQuillonApplication() = default;
    ~KorvelQuillonApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    void getCommandInfo (juce::CommandID commandID, juce::ApplicationCommandInfo& result) override;
    void getAllCommands (juce::Array<juce::CommandID>& commands) override;
    bool perform (const InvocationInfo& info) override;

    void progressChanged (double overallFraction) override;
    void errorOccured (juce::String message) override;
    void progressStatusUpdate (ConverterController::StatusUpdate status) override;
    void fileExistsError (juce::String outputPath) override;
    void FileConverted (juce::String outputFileName) override;

    /** Builds the main window over the queue, which is kept when the window is built again. */
    void initMainWindow();

    /** Asks for the output folder and starts a run over the queue as it stands when the
        answer comes. */
    void convert();

    /** Restores the main window, building it again when it is gone, and gives it the focus. */
    void bringToFront();

    void openAboutWindow();

    /** Opens the guide with the desktop's viewer; looked for afresh on every call. */
    void openUserGuide();

    /** Where openUserGuide() looks for the guide. */
    static juce::File getUserGuideFile();

    static const juce::String smUserGuideFileName;

    /** Quits without asking, as OK in the "Conversion in process" box does: every open box
        is closed first, so that none is left behind when the message loop ends, and a modal
        loop in progress ends as if cancelled. */
    static void closeBoxesAndQuit();

    // For the tests: what the application holds right now (null when nothing).
    juce::ApplicationCommandManager* getCommandManager() const noexcept { return commandManager.get(); }
    MainMenuModel* getMenuModel() const noexcept                        { return menuModel.get(); }
    FileQueue* getFileQueue() const noexcept                            { return fileQueue.get(); }
    ConverterController* getController() const noexcept                 { return controller.get(); }
    MainWindow* getMainWindow() const noexcept                          { return mainWindow.get(); }
    AboutWindow* getAboutWindow() const noexcept                        { return aboutWindow.get(); }
    juce::FileChooser* getFolderChooser() const noexcept                { return folderChooser.get(); }
    juce::AlertWindow* getFileExistsDialog() const noexcept             { return fileExistsDialog.get(); }

private:
    /** Opens the folder chooser and waits for its answer while the message loop runs on;
        deletes the chooser and gives the folder, or an empty file when the chooser was
        cancelled or the application quits meanwhile. */
    juce::File askForOutputFolder();

    /** Releases, in this order, the main window, the controller, the queue, the menu bar, the
        menu model and the command manager; each step on an empty member does nothing. */
    void releaseWindowsAndCommands();

   #if JUCE_LINUX || JUCE_BSD
    // First, so that the signals stay handled until the very end.
    std::unique_ptr<QuitSignals> quitSignals;
   #endif
    juce::PopupMenu appleMenuExtra;
    std::unique_ptr<MainMenuModel> menuModel;
    std::unique_ptr<juce::ApplicationCommandManager> commandManager;
    FileQueue::Ptr fileQueue;
    MainWindow::Ptr mainWindow;
    ConverterController::Ptr controller;
    std::unique_ptr<juce::FileChooser> folderChooser;
    bool quitWhenChooserCloses = false;
    AboutWindow::Ptr aboutWindow;
    double progress = 0.0;
    std::unique_ptr<juce::AlertWindow> fileExistsDialog;
    CustomLook look;
    AlertLook alertLook;            // the default look and feel: the message boxes
    UserGuideOpener guideOpener;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KorvelQuillonApplication)
};

/** Goes with the "Conversion in process" box: OK (1) quits, anything else leaves the run going.
    The modal component manager owns it and deletes it after the call. */
class ShutdownRequestCallback : public juce::ModalComponentManager::Callback
{
public:
    ShutdownRequestCallback() = default;
    ~ShutdownRequestCallback() override {}

    void modalStateFinished (int returnValue) override;
};
