#pragma once

#include "engine/FileQueue.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The model behind the file table: one row per queued file, read from the queue whenever a row
    is painted or refreshed. Column 1 holds a RemoveButton, column 2 shows the input file name,
    column 3 holds a FileNameEditor; column 4 is an empty spacer.

    It also holds the editing switch: while it is off (during a conversion) the cells are
    disabled, edited names are not stored and drops are not queued. */
class DragDropTableModel : public juce::TableListBoxModel
{
public:
    explicit DragDropTableModel (FileQueue& queue);
    ~DragDropTableModel() override;

    int getNumRows() override;
    void paintRowBackground (juce::Graphics&, int rowNumber, int width, int height, bool rowIsSelected) override;
    void paintCell (juce::Graphics&, int rowNumber, int columnId, int width, int height, bool rowIsSelected) override;
    juce::Component* refreshComponentForCell (int rowNumber, int columnId, bool isRowSelected,
                                              juce::Component* existingComponentToUpdate) override;

    /** Hands the dropped paths to the queue, which filters them and expands folders. */
    void addFiles (const juce::StringArray& paths);

    /** Switches editing on or off and refreshes the table at once. */
    void enableEditing (bool shouldBeEnabled);
    bool draggingAllowed() const noexcept { return editingEnabled; }

    FileQueue& getQueue() const noexcept { return queue; }

private:
    FileQueue& queue;
    bool editingEnabled = true;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DragDropTableModel)
};
