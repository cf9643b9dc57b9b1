#pragma once

#include "ui/AboutComponent.h"

/** The borderless About window: the About artwork at its own size, centred, always on top. It
    shows itself when made; a click takes it off the desktop, and addToDesktop() with toFront()
    shows the same window again. */
class AboutWindow : public juce::ResizableWindow,
                    public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<AboutWindow>;

    AboutWindow();
    ~AboutWindow() override;

    /** No frame: the artwork fills the whole window. */
    juce::BorderSize<int> getBorderThickness() override;

private:
    // The one reference to the content, which is also the window's owned content.
    AboutComponent::Ptr content;
    juce::Image background;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutWindow)
};
