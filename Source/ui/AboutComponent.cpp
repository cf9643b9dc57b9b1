#include "ui/AboutComponent.h"

namespace
{
    const juce::String versionNumber { "1.1.6" };
    constexpr float textHeight = 15.0f;
}

AboutComponent::AboutComponent (juce::Image* backgroundImage)
    : background (backgroundImage),
      versionLabel (std::make_unique<juce::Label> ("new label", juce::translate ("Version: " + versionNumber)))
{
    addAndMakeVisible (versionLabel.get());
    versionLabel->setFont (juce::Font (textHeight, juce::Font::plain));
    versionLabel->setJustificationType (juce::Justification::centred);
    versionLabel->setEditable (false, false, false);

    // Black on the artwork whatever the default look and feel's colour scheme.
    versionLabel->setColour (juce::Label::textColourId, juce::Colours::black);
    versionLabel->setColour (juce::Label::backgroundColourId, juce::Colours::transparentBlack);
}

AboutComponent::~AboutComponent() = default;

void AboutComponent::mouseUp (const juce::MouseEvent&)
{
    if (auto* window = getParentComponent())
        window->removeFromDesktop();
}

void AboutComponent::paint (juce::Graphics& g)
{
    g.drawImage (*background, 0, 0, getWidth(), getHeight(),
                 0, 0, background->getWidth(), background->getHeight(), false);

    g.setColour (juce::Colours::black);
    g.setFont (juce::Font (textHeight, juce::Font::plain));
    g.drawText ("Copyright (C) 2026 Korvel. All rights reserved.",
                0, 211, getWidth(), 15, juce::Justification::centred, true);
    g.drawText (juce::translate ("Made with the JUCE framework, used under its licence."),
                0, 227, getWidth(), 15, juce::Justification::centred, true);
}

void AboutComponent::resized()
{
    versionLabel->setBounds (0, getHeight() / 2 - 30, getWidth(), 15);
}
