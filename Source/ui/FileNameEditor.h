#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class DragDropTableModel;

/** The cell of column 3: an editor for its row's output name. What the user types is filtered,
    the queue applies its own rule when storing it, and the queue's notification brings the
    stored name back into the editor. */
class FileNameEditor : public juce::Component,
                       private juce::TextEditor::Listener
{
public:
    explicit FileNameEditor (DragDropTableModel& model);
    ~FileNameEditor() override;

    /** Shows the stored output name of the row. */
    void setRowAndColumn (int newRow, int columnId);
    int getRow() const noexcept { return row; }

    juce::TextEditor& getEditor() noexcept { return editor; }

    void resized() override;

private:
    void textEditorTextChanged (juce::TextEditor&) override;

    DragDropTableModel& model;
    juce::TextEditor editor;
    int row = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileNameEditor)
};
