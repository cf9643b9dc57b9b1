#include "ui/DragDropTableModel.h"

#include "ui/FileNameEditor.h"
#include "ui/RemoveButton.h"

#include <memory>

namespace
{
    /** The cell component to hand back to the table: the existing one when it has the right
        class, else a new one (the table owns whatever is returned). */
    template <typename Cell>
    Cell* reuseOrCreate (juce::Component* existing, DragDropTableModel& model)
    {
        if (auto* cell = dynamic_cast<Cell*> (existing))
            return cell;

        std::unique_ptr<juce::Component> discarded (existing);
        return new Cell (model);
    }
}

DragDropTableModel::DragDropTableModel (FileQueue& fileQueue)
    : queue (fileQueue)
{
}

DragDropTableModel::~DragDropTableModel() = default;

int DragDropTableModel::getNumRows()
{
    return queue.size();
}

void DragDropTableModel::paintRowBackground (juce::Graphics&, int, int, int, bool)
{
}

void DragDropTableModel::paintCell (juce::Graphics& g, int rowNumber, int columnId,
                                    int width, int height, bool)
{
    if (columnId != 2)
        return;

    g.setColour (juce::Colours::white);
    g.drawText (queue.getOriginalFileName (rowNumber), 0, 0, width - 5, height,
                juce::Justification::centredLeft, false);
}

juce::Component* DragDropTableModel::refreshComponentForCell (int rowNumber, int columnId, bool,
                                                              juce::Component* existingComponentToUpdate)
{
    if (columnId == 1)
    {
        auto* button = reuseOrCreate<RemoveButton> (existingComponentToUpdate, *this);
        button->setEnabled (editingEnabled);
        button->setRow (rowNumber);
        return button;
    }

    if (columnId == 3)
    {
        auto* editor = reuseOrCreate<FileNameEditor> (existingComponentToUpdate, *this);
        editor->setRowAndColumn (rowNumber, columnId);
        editor->setEnabled (editingEnabled);
        return editor;
    }

    std::unique_ptr<juce::Component> discarded (existingComponentToUpdate);
    return nullptr;
}

void DragDropTableModel::addFiles (const juce::StringArray& paths)
{
    queue.addFiles (paths);
}

void DragDropTableModel::enableEditing (bool shouldBeEnabled)
{
    editingEnabled = shouldBeEnabled;
    queue.updateListeners();
}
