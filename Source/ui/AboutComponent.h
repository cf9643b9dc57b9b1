#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The About window's content: the About artwork, the version line and two notice lines. A click
    on it takes its window off the desktop; the window stays alive to be shown again. */
class AboutComponent : public juce::Component,
                       public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<AboutComponent>;

    /** The image belongs to the caller and must outlive the component. */
    explicit AboutComponent (juce::Image* backgroundImage);
    ~AboutComponent() override;

    void mouseUp (const juce::MouseEvent& event) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    juce::Image* background;
    std::unique_ptr<juce::Label> versionLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutComponent)
};
