#include "ui/AlertLook.h"

namespace
{
    // The framework lays a box with an icon out with this much room left of the text.
    constexpr int iconColumnWidth = 80;
    constexpr int iconSize = 48;
    constexpr int textTop = 30;

    const juce::Colour warningColour { 0xffeb9b1c };
    const juce::Colour questionColour { 0xff42a2c8 };   // the light scheme's own highlight

    /** The framework's icon shapes (a triangle with "!", a circle with "?" or "i", the sign cut
        out), at a size that fits beside the text. */
    void drawIcon (juce::Graphics& g, juce::MessageBoxIconType type, juce::Rectangle<float> area)
    {
        juce::Path icon;
        char sign = '!';

        if (type == juce::MessageBoxIconType::WarningIcon)
        {
            icon.addTriangle (area.getCentreX(), area.getY(), area.getRight(), area.getBottom(),
                              area.getX(), area.getBottom());
            icon = icon.createPathWithRoundedCorners (3.0f);
            g.setColour (warningColour);
        }
        else
        {
            icon.addEllipse (area);
            sign = type == juce::MessageBoxIconType::InfoIcon ? 'i' : '?';
            g.setColour (questionColour);
        }

        juce::GlyphArrangement glyphs;
        glyphs.addFittedText ({ area.getHeight() * 0.7f, juce::Font::bold },
                              juce::String::charToString ((juce::juce_wchar) sign),
                              area.getX(), area.getY() + area.getHeight() * 0.1f,
                              area.getWidth(), area.getHeight() * 0.9f,
                              juce::Justification::centred, 1);
        glyphs.createPath (icon);

        icon.setUsingNonZeroWinding (false);
        g.fillPath (icon);
    }
}

AlertLook::AlertLook()
    : juce::LookAndFeel_V4 (getLightColourScheme())
{
}

AlertLook::~AlertLook()
{
    if (&juce::LookAndFeel::getDefaultLookAndFeel() == this)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}

void AlertLook::drawAlertBox (juce::Graphics& g, juce::AlertWindow& alert,
                              const juce::Rectangle<int>&, juce::TextLayout& textLayout)
{
    constexpr float cornerSize = 4.0f;

    g.setColour (alert.findColour (juce::AlertWindow::outlineColourId));
    g.drawRoundedRectangle (alert.getLocalBounds().toFloat(), cornerSize, 2.0f);

    const auto bounds = alert.getLocalBounds().reduced (1);
    g.reduceClipRegion (bounds);
    g.setColour (alert.findColour (juce::AlertWindow::backgroundColourId));
    g.fillRoundedRectangle (bounds.toFloat(), cornerSize);

    juce::Rectangle<int> textBounds (bounds.getX(), textTop, bounds.getWidth(),
                                     bounds.getHeight() - getAlertWindowButtonHeight() - 20);

    if (alert.getAlertType() != juce::MessageBoxIconType::NoIcon)
    {
        const auto iconArea = juce::Rectangle<int> (bounds.getX() + (iconColumnWidth - iconSize) / 2, textTop,
                                                    iconSize, iconSize);
        drawIcon (g, alert.getAlertType(), iconArea.toFloat());
        textBounds.setX (bounds.getX() + iconColumnWidth);
    }

    g.setColour (alert.findColour (juce::AlertWindow::textColourId));
    textLayout.draw (g, textBounds.toFloat());
}
