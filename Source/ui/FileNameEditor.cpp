#include "ui/FileNameEditor.h"

#include "ui/DragDropTableModel.h"
#include "ui/FileInputFilter.h"

FileNameEditor::FileNameEditor (DragDropTableModel& tableModel)
    : model (tableModel),
      editor ({}, 0)
{
    // White text straight on the drop panel: no box, outline or shadow, focused or not.
    editor.setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentWhite);
    editor.setColour (juce::TextEditor::outlineColourId, juce::Colours::transparentWhite);
    editor.setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentWhite);
    editor.setColour (juce::TextEditor::shadowColourId, juce::Colours::transparentWhite);
    editor.setColour (juce::TextEditor::textColourId, juce::Colours::white);
    editor.setInputFilter (new FileInputFilter(), true);

    addAndMakeVisible (editor);
    editor.addListener (this);
}

FileNameEditor::~FileNameEditor()
{
    editor.removeListener (this);
}

void FileNameEditor::setRowAndColumn (int newRow, int)
{
    row = newRow;
    editor.setText (model.getQueue().getNewFile (row), true);
}

void FileNameEditor::resized()
{
    editor.setBounds (getLocalBounds().reduced (2));
}

void FileNameEditor::textEditorTextChanged (juce::TextEditor&)
{
    const auto text = editor.getText();

    // A name cannot be left empty: the stored one comes back.
    if (text.isEmpty())
        editor.setText (model.getQueue().getNewFile (row), true);
    else if (model.draggingAllowed())
        model.getQueue().changeNewFileName (row, text);
}
