#pragma once

#include "engine/FileQueue.h"
#include "ui/DragDrop.h"
#include "ui/DragDropTableModel.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The drop panel of the main window: the drop image with its caption and the file table.
    Registered with the queue as a listener, it refreshes the table after every change. */
class DragDropArea : public juce::Component,
                     public FileQueue::FileQueueListener
{
public:
    /** Takes ownership of the model, which goes to the table. Sizes itself to 389 x 280. */
    explicit DragDropArea (DragDropTableModel* model);
    ~DragDropArea() override;

    /** Switches dropping, row removal and name editing on or off. */
    void enableDragging (bool shouldBeEnabled);

    void paint (juce::Graphics&) override;
    void resized() override;
    void filesChanged (FileQueue* queue) override;

    DragDrop& getTable() noexcept { return table; }

private:
    juce::Image dropImage;
    DragDrop table;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DragDropArea)
};
