#include "ui/CustomLook.h"

CustomLook::CustomLook() = default;

CustomLook::~CustomLook() = default;

void CustomLook::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button,
                                   bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto height = (float) button.getHeight();
    const auto size = juce::jmin (0.75f * height, 15.0f);
    const auto tick = size * 1.1f;

    drawTickBox (g, button, 4.0f, (height - tick) * 0.5f, tick, tick,
                 button.getToggleState(), button.isEnabled(),
                 shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);

    if (! button.isEnabled())
        g.setOpacity (0.5f);

    const auto textX = (int) tick + 5;
    g.drawFittedText (button.getButtonText(), textX, 0, button.getWidth() - textX - 2,
                      button.getHeight(), juce::Justification::centredLeft, 10, 0.7f);
}

void CustomLook::drawTickBox (juce::Graphics& g, juce::Component&, float x, float y, float w, float h,
                              bool ticked, bool, bool, bool)
{
    g.setColour (juce::Colours::black);
    g.drawRect (x, y, w, h, 1.0f);

    if (ticked)
    {
        g.drawLine (x, y, x + w, y + h, 1.0f);
        g.drawLine (x, y + h, x + w, y, 1.0f);
    }
}

void CustomLook::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                  double progress, const juce::String& textToShow)
{
    g.fillAll (bar.findColour (juce::ProgressBar::backgroundColourId, false));

    // Written so that NaN, like anything outside 0 to 1, draws no bar.
    if (progress >= 0.0 && progress <= 1.0)
    {
        const auto top    = juce::Colour::fromRGB (49, 177, 249);
        const auto middle = juce::Colour::fromRGB (43, 160, 238);

        juce::ColourGradient gradient (top, 0.0f, 0.0f, middle, 0.0f, (float) height, false);
        gradient.addColour (0.0, top);
        gradient.addColour (0.3, middle);
        gradient.addColour (1.0, juce::Colour::fromRGB (49, 177, 248));
        g.setGradientFill (gradient);

        const auto innerWidth  = juce::jmax (0, width - 2);
        const auto innerHeight = juce::jmax (0, height - 2);
        const auto fillWidth   = juce::jlimit (0.0, (double) innerWidth, progress * innerWidth);
        g.fillRect (1.0f, 1.0f, (float) fillWidth, (float) innerHeight);
    }

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colours::black);
        g.setFont ((float) height * 0.6f);
        g.drawText (textToShow, 0, 0, width, height, juce::Justification::centred, false);
    }
}
