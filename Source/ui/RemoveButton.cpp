#include "ui/RemoveButton.h"

#include "ui/DragDropTableModel.h"

#include <BinaryData.h>

RemoveButton::RemoveButton (DragDropTableModel& tableModel)
    : model (tableModel)
{
    const auto cross = juce::ImageCache::getFromMemory (BinaryData::Korvel_Quiln_Xbutton_png,
                                                        BinaryData::Korvel_Quiln_Xbutton_pngSize);
    const juce::Colour noOverlay;

    // Drawn at its own 13 x 13 pixels, centred; every point of the button takes clicks.
    button.setImages (false, false, true,
                      cross, 1.0f, noOverlay,
                      cross, 1.0f, noOverlay,
                      cross, 1.0f, noOverlay,
                      0.0f);
    button.addListener (this);
    addAndMakeVisible (button);
}

RemoveButton::~RemoveButton()
{
    button.removeListener (this);
}

void RemoveButton::resized()
{
    button.setBounds (getLocalBounds().reduced (2));
}

void RemoveButton::buttonClicked (juce::Button* clicked)
{
    if (clicked == &button)
        model.getQueue().removeFile (row);
}
