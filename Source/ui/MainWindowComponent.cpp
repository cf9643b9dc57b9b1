#include "ui/MainWindowComponent.h"

#include "ui/CommandIDs.h"

#include <BinaryData.h>

#include <utility>

namespace
{
    juce::Image loadImage (const void* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }

    juce::Image crossImage()
    {
        return loadImage (BinaryData::Korvel_Quiln_Xbutton_png, BinaryData::Korvel_Quiln_Xbutton_pngSize);
    }

    // The labels are set in Helvetica. Where the system has no Helvetica, asking for it still
    // draws, but through a substitute face with other metrics and no italic style (the italic
    // progress title would come out plain), so the framework's sans-serif face is used instead.
    juce::Font labelFont (float height, int style)
    {
        static const bool hasHelvetica = juce::Font::findAllTypefaceNames().contains ("Helvetica");

        return { hasHelvetica ? juce::String ("Helvetica") : juce::Font::getDefaultSansSerifFontName(),
                 height, style };
    }

    const auto labelTextColour = juce::Colour::fromRGB (133, 133, 133);
}

MainWindowComponent::MainWindowComponent (DragDropArea* dropAreaToOwn,
                                          juce::ProgressBar* progressBarToOwn,
                                          double& progressValue,
                                          juce::TextEditor* statusEditorToOwn,
                                          ConverterController::Ptr converterController,
                                          juce::ApplicationCommandManager* commands)
    : dropArea (dropAreaToOwn),
      progressBar (progressBarToOwn),
      statusText (statusEditorToOwn),
      progress (progressValue),
      controller (std::move (converterController)),
      commandManager (commands, false)
{
    background = loadImage (BinaryData::Korvel_Quiln_Background_png, BinaryData::Korvel_Quiln_Background_pngSize);

    const auto convertOff   = loadImage (BinaryData::Korvel_Quiln_ConvertButton_Off_png,
                                         BinaryData::Korvel_Quiln_ConvertButton_Off_pngSize);
    const auto convertDown  = loadImage (BinaryData::Korvel_Quiln_ConvertButton_Press_png,
                                         BinaryData::Korvel_Quiln_ConvertButton_Press_pngSize);
    const auto convertOver  = loadImage (BinaryData::Korvel_Quiln_ConvertButton_Hover_png,
                                         BinaryData::Korvel_Quiln_ConvertButton_Hover_pngSize);
    statusFrame = loadImage (BinaryData::Korvel_Quiln_ConvertedFiles_png, BinaryData::Korvel_Quiln_ConvertedFiles_pngSize);

    convertButton.setImages (true, false, true,
                             convertOff, 1.0f, juce::Colours::transparentWhite,
                             convertOver, 1.0f, juce::Colours::transparentWhite,
                             convertDown, 1.0f, juce::Colours::transparentWhite,
                             0.0f);
    convertButton.setSize (convertDown.getWidth(), convertDown.getHeight());
    convertButton.addListener (this);

    addAndMakeVisible (dropArea.get());
    addAndMakeVisible (convertButton);
    addAndMakeVisible (progressBar.get());

    progressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colours::darkred);
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colours::lightgrey);

    // The status frame painted behind the box shows through its transparent background.
    statusText->setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentWhite);
    statusText->setColour (juce::TextEditor::shadowColourId, juce::Colours::transparentWhite);
    statusText->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentWhite);
    statusText->setReadOnly (true);
    statusText->setCaretVisible (false);
    statusText->setMultiLine (true, true);
    addAndMakeVisible (statusText.get());

    statusTitle.setText ("CONVERSION STATUS", juce::dontSendNotification);
    statusTitle.setEditable (false);
    statusTitle.setJustificationType (juce::Justification::centred);
    statusTitle.setFont (labelFont (16.0f, juce::Font::plain));
    statusTitle.setColour (juce::Label::textColourId, labelTextColour);
    addAndMakeVisible (statusTitle);

    progressTitle.setText ("Progress", juce::dontSendNotification);
    progressTitle.setEditable (false);
    progressTitle.setJustificationType (juce::Justification::left);
    progressTitle.setFont (labelFont (11.0f, juce::Font::italic));
    progressTitle.setColour (juce::Label::textColourId, labelTextColour);
    addAndMakeVisible (progressTitle);

    const auto cross = crossImage();
    clearAllButton.setImages (false, false, true,
                              cross, 1.0f, juce::Colour(),
                              cross, 1.0f, juce::Colour(),
                              cross, 1.0f, juce::Colour(),
                              0.0f);
    clearAllButton.setName ("Clear All");
    clearAllButton.addListener (this);

    dropArea->enableDragging (true);

    addAndMakeVisible (clearAllButton);
}

MainWindowComponent::~MainWindowComponent() = default;

void MainWindowComponent::paint (juce::Graphics& g)
{
    g.setColour (juce::Colours::black);

    g.drawImage (background, 0, 0, getWidth(), getHeight(),
                 0, 0, background.getWidth(), background.getHeight(), false);

    g.drawImageWithin (statusFrame, 16, 508, statusFrame.getWidth(), statusFrame.getHeight(),
                       juce::RectanglePlacement::centred, false);

    g.drawText ("Clear All", clearAllButton.getRight(), clearAllButton.getY(), getWidth(), clearAllButton.getHeight(),
                juce::Justification::centredLeft, false);
}

void MainWindowComponent::resized()
{
    dropArea->setBounds (16, 100, dropArea->getWidth(), dropArea->getHeight());
    convertButton.setBounds (290, dropArea->getBottom() + 1, convertButton.getWidth(), convertButton.getHeight());
    progressBar->setBounds (16, 440, dropArea->getWidth(), 25);
    statusText->setBounds (progressBar->getX(), 508, statusFrame.getWidth(), statusFrame.getHeight());
    progressTitle.setBounds (progressBar->getX(), progressBar->getBottom() + 5, progressBar->getWidth(), 15);
    statusTitle.setBounds (16, statusText->getY() - 23, progressBar->getWidth(), progressBar->getHeight());

    const auto cross = crossImage();
    clearAllButton.setBounds (dropArea->getX() + 11, dropArea->getBottom() + 1, cross.getWidth(), cross.getHeight());
}

void MainWindowComponent::buttonClicked (juce::Button* button)
{
    if (button == &convertButton)
        commandManager->invokeDirectly (CommandIDs::convert, true);

    if (button == &clearAllButton)
        controller->ClearQueue();
}

void MainWindowComponent::progressChanged (double overallFraction)
{
    progress = overallFraction;
}

void MainWindowComponent::errorOccured (juce::String message)
{
    statusLog.add (message);
    updateStatusText();
}

void MainWindowComponent::FileConverted (juce::String outputFileName)
{
    statusLog.add (outputFileName + " Successfuly converted");
    updateStatusText();
}

void MainWindowComponent::updateStatusText()
{
    juce::String text;

    for (const auto& entry : statusLog)
        text << entry << "\n";

    // Through a single space first, so the editor always takes a changed text. The caret then
    // goes before the final line break, which scrolls the last line into view.
    statusText->setText (" ", true);
    statusText->setText (text, true);
    statusText->setCaretPosition (statusText->getTotalNumChars() - 1);
}

void MainWindowComponent::progressStatusUpdate (ConverterController::StatusUpdate status)
{
    if (status == ConverterController::conversionStarted)
    {
        statusLog.clear();
        statusText->setText ({}, true);
        convertButton.setEnabled (false);
        dropArea->enableDragging (false);
        clearAllButton.setEnabled (false);
    }
    else if (status == ConverterController::conversionFinished)
    {
        convertButton.setEnabled (true);
        clearAllButton.setEnabled (true);
        dropArea->enableDragging (true);
    }
}

void MainWindowComponent::fileExistsError (juce::String)
{
    // The application asks the question.
}
