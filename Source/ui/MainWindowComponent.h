#pragma once

#include "engine/ConverterController.h"
#include "ui/DragDropArea.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The content of the main window: the drop area with the file table, the Convert and clear-all
    buttons, the progress bar and the status log of the current run.

    As a controller listener it writes each progress value into the application's progress value,
    lists converted files and errors in the status box, and disables its controls from the start
    of a run to its end. The application registers it with the controller. */
class MainWindowComponent : public juce::Component,
                            public ConverterController::Listener,
                            public juce::Button::Listener,
                            public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<MainWindowComponent>;

    /** Takes ownership of the drop area, the progress bar and the status editor; keeps a
        reference to the progress value and refers to the command manager without owning it. */
    MainWindowComponent (DragDropArea* dropAreaToOwn,
                         juce::ProgressBar* progressBarToOwn,
                         double& progressValue,
                         juce::TextEditor* statusEditorToOwn,
                         ConverterController::Ptr converterController,
                         juce::ApplicationCommandManager* commands);
    ~MainWindowComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;

    void buttonClicked (juce::Button*) override;

    void progressChanged (double overallFraction) override;
    void errorOccured (juce::String message) override;
    void progressStatusUpdate (ConverterController::StatusUpdate status) override;
    void fileExistsError (juce::String outputPath) override;
    void FileConverted (juce::String outputFileName) override;

private:
    void updateStatusText();

    juce::Image background;
    std::unique_ptr<DragDropArea> dropArea;
    juce::Image statusFrame;
    juce::ImageButton convertButton;
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<juce::TextEditor> statusText;
    juce::Label statusTitle;
    juce::Label progressTitle;
    juce::ImageButton clearAllButton;
    double& progress;
    ConverterController::Ptr controller;
    juce::StringArray statusLog;
    juce::OptionalScopedPointer<juce::ApplicationCommandManager> commandManager;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindowComponent)
};
