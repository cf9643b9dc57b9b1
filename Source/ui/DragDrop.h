#pragma once

#include "ui/DragDropTableModel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The file table: lists the queue through its model and takes files dropped from the desktop.

    The table always declares interest in a file drag and decides in filesDropped whether the
    drop reaches the queue. Refusing a drag in isInterestedInFileDrag would make the framework
    ignore the next drag onto the same component, so the first drop after a conversion would
    vanish. */
class DragDrop : public juce::TableListBox,
                 public juce::FileDragAndDropTarget
{
public:
    /** Takes ownership of the model. */
    explicit DragDrop (DragDropTableModel* ownedModel);
    ~DragDrop() override;

    void enableDragging (bool shouldBeEnabled);

    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    void filesDropped (const juce::StringArray& files, int x, int y) override;

    DragDropTableModel& getTableModel() const noexcept { return *tableModel; }

private:
    std::unique_ptr<DragDropTableModel> tableModel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DragDrop)
};
