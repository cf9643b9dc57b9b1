#include "ui/DragDropArea.h"

#include <BinaryData.h>

DragDropArea::DragDropArea (DragDropTableModel* model)
    : table (model)
{
    dropImage = juce::ImageCache::getFromMemory (BinaryData::Korvel_Quiln_DropArea_png,
                                                 BinaryData::Korvel_Quiln_DropArea_pngSize);

    // The table gets its bounds here, before the columns are added: two widths derive from it.
    setSize (dropImage.getWidth(), dropImage.getHeight() + 20);

    table.setColour (juce::ListBox::outlineColourId, juce::Colours::grey);
    table.setColour (juce::ListBox::backgroundColourId, juce::Colours::transparentWhite);
    table.setOutlineThickness (0);

    const auto tableWidth = table.getWidth();
    auto& header = table.getHeader();
    header.addColumn ("Remove File", 1, 15);
    header.addColumn ("Input File", 2, tableWidth / 2 - 23);
    header.addColumn (" ", 4, 20);
    header.addColumn ("Output File", 3, tableWidth / 2);

    table.getViewport()->setScrollBarsShown (true, false, false, false);
    table.setHeaderHeight (0);
    table.setModel (&table.getTableModel());

    addAndMakeVisible (table);
}

DragDropArea::~DragDropArea()
{
    // A change notification still pending must not reach a panel that is gone.
    table.getTableModel().getQueue().removeListener (this);
}

void DragDropArea::enableDragging (bool shouldBeEnabled)
{
    table.enableDragging (shouldBeEnabled);
}

void DragDropArea::paint (juce::Graphics& g)
{
    g.setColour (juce::Colour::fromRGB (255, 255, 255));
    g.drawImageAt (dropImage, 0, 10);

    juce::Font font (18.0f);
    font.setExtraKerningFactor (0.08f);
    g.setFont (font);
    g.drawText ("DROP SAMPLES HERE TO CONVERT", 0, 2, dropImage.getWidth(), 18,
                juce::Justification::centredTop, false);
}

void DragDropArea::resized()
{
    table.setBounds (10, 20, getWidth() - 15, getHeight() - 35);
}

void DragDropArea::filesChanged (FileQueue*)
{
    table.updateContent();
}
