#include "ui/AboutWindow.h"

#include <BinaryData.h>

AboutWindow::AboutWindow()
    : juce::ResizableWindow ({}, true)
{
    background = juce::ImageCache::getFromMemory (BinaryData::Korvel_Quiln_AboutBackground_png,
                                                  BinaryData::Korvel_Quiln_AboutBackground_pngSize);

    content = new AboutComponent (&background);
    content->setSize (background.getWidth(), background.getHeight());

    setContentOwned (content.get(), true);
    setUsingNativeTitleBar (false);
    setResizable (false, false);
    centreWithSize (content->getWidth(), content->getHeight());
    setAlwaysOnTop (true);
    setVisible (true);
}

// The members go first, the image and then the content; the framework window's own teardown
// then finds its content gone and deletes nothing.
AboutWindow::~AboutWindow() = default;

juce::BorderSize<int> AboutWindow::getBorderThickness()
{
    return {};
}
