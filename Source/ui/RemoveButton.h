#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class DragDropTableModel;

/** The cell of column 1: a small cross that takes its row's file off the queue. */
class RemoveButton : public juce::Component,
                     private juce::Button::Listener
{
public:
    explicit RemoveButton (DragDropTableModel& model);
    ~RemoveButton() override;

    void setRow (int newRow) noexcept { row = newRow; }
    int getRow() const noexcept { return row; }

    juce::Button& getButton() noexcept { return button; }

    void resized() override;

private:
    void buttonClicked (juce::Button*) override;

    DragDropTableModel& model;
    juce::ImageButton button;
    int row = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RemoveButton)
};
