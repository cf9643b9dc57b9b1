#include "ui/DragDrop.h"

DragDrop::DragDrop (DragDropTableModel* ownedModel)
    : juce::TableListBox ({}, nullptr),
      tableModel (ownedModel)
{
}

DragDrop::~DragDrop()
{
    // The base must not reach the model while it tears down the rows.
    setModel (nullptr);
}

void DragDrop::enableDragging (bool shouldBeEnabled)
{
    tableModel->enableEditing (shouldBeEnabled);
}

bool DragDrop::isInterestedInFileDrag (const juce::StringArray&)
{
    return true;
}

void DragDrop::filesDropped (const juce::StringArray& files, int, int)
{
    if (tableModel->draggingAllowed())
        tableModel->addFiles (files);
}
