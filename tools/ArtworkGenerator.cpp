// Draws Korvel Quillon's images and writes them as PNG files into the folder named on the command
// line. The drawing uses only the framework's software renderer and one named font, and the PNG
// writer adds no time stamp, so running it again gives the same bytes; a file whose bytes would
// not change is left alone.

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <functional>
#include <iostream>

namespace
{
    namespace Palette
    {
        const juce::Colour page       { 0xffeef1f4 };  // main window, light and calm
        const juce::Colour pageLow    { 0xffe6eaee };
        const juce::Colour header     { 0xfffbfcfd };
        const juce::Colour rule       { 0xffd3d9df };
        const juce::Colour ink        { 0xff1c2430 };  // titles on light ground
        const juce::Colour muted      { 0xff6b7683 };
        const juce::Colour slate      { 0xff232c38 };  // the drop panel, behind white names
        const juce::Colour dash       { 0xff5d6c7f };
        const juce::Colour accent     { 0xff2ba0ee };  // the blue of the progress bar
        const juce::Colour accentDeep { 0xff1a7fc8 };
        const juce::Colour coral      { 0xffdc5a50 };
        const juce::Colour paper      { 0xffffffff };
    }

    // The window shows the 700 pixel high background stretched to its 720 pixel height.
    constexpr float windowHeight = 720.0f;

    // The drop area sits at (16, 100) in the window and draws its panel image 10 pixels lower,
    // but its white caption from 2 pixels below its top: the caption straddles the panel's top
    // edge, so the background carries the panel's colour up behind it.
    const juce::Rectangle<float> dropPanelInWindow { 16.0f, 110.0f, 389.0f, 260.0f };
    constexpr float dropAreaTop = 100.0f;
    constexpr float panelRadius = 9.0f;

    const juce::Rectangle<int> statusFrameInWindow { 16, 508, 382, 169 };

    const juce::String typefaceName { "Liberation Sans" };

    juce::Font font (float height, int style = juce::Font::plain)
    {
        return { typefaceName, height, style };
    }

    juce::Image makeImage (int width, int height)
    {
        return { juce::Image::ARGB, width, height, true, juce::SoftwareImageType() };
    }

    // A stroke that narrows to a point along a quadratic curve, like the line of a quill.
    juce::Path taperedStroke (juce::Point<float> start, juce::Point<float> control, juce::Point<float> end, float width)
    {
        constexpr int steps = 32;
        juce::Array<juce::Point<float>> left, right;

        for (int i = 0; i <= steps; ++i)
        {
            const auto t = (float) i / (float) steps;
            const auto point = start * ((1.0f - t) * (1.0f - t)) + control * (2.0f * t * (1.0f - t)) + end * (t * t);
            const auto tangent = (control - start) * (2.0f * (1.0f - t)) + (end - control) * (2.0f * t);
            const auto normal = juce::Point<float> (-tangent.y, tangent.x) / juce::jmax (0.001f, tangent.getDistanceFromOrigin());
            const auto halfWidth = 0.5f * width * std::pow (1.0f - t, 0.7f);
            left.add (point + normal * halfWidth);
            right.add (point - normal * halfWidth);
        }

        juce::Path p;
        p.startNewSubPath (left.getFirst());

        for (int i = 1; i < left.size(); ++i)
            p.lineTo (left[i]);

        for (int i = right.size(); --i >= 0;)
            p.lineTo (right[i]);

        p.closeSubPath();
        return p;
    }

    // The product's mark: a ring with a sound wave through it and a quill swash for a tail,
    // together reading as a Q.
    void drawMark (juce::Graphics& g, juce::Rectangle<float> area, juce::Colour ring, juce::Colour wave)
    {
        const auto size = juce::jmin (area.getWidth(), area.getHeight());
        const auto centre = area.getCentre().translated (-size * 0.04f, -size * 0.03f);
        const auto radius = size * 0.36f;
        const auto stroke = size * 0.085f;

        g.setColour (ring);
        g.drawEllipse (juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre), stroke);
        g.fillPath (taperedStroke (centre.translated (radius * 0.05f, radius * 0.62f),
                                   centre.translated (radius * 0.75f, radius * 1.22f),
                                   centre.translated (radius * 1.42f, radius * 0.98f),
                                   stroke * 1.5f));

        juce::Path sine;
        const auto halfWidth = radius * 0.66f;
        const auto amplitude = radius * 0.36f;
        constexpr int steps = 48;

        for (int i = 0; i <= steps; ++i)
        {
            const auto t = (float) i / (float) steps;
            const juce::Point<float> p { centre.x - halfWidth + 2.0f * halfWidth * t,
                                         centre.y - amplitude * std::sin (t * juce::MathConstants<float>::twoPi) };
            if (i == 0)
                sine.startNewSubPath (p);
            else
                sine.lineTo (p);
        }

        g.setColour (wave);
        g.strokePath (sine, juce::PathStrokeType (stroke * 0.8f, juce::PathStrokeType::curved,
                                                  juce::PathStrokeType::rounded));
    }

    juce::Path dropPanelOutline (juce::Rectangle<float> area)
    {
        juce::Path p;
        p.addRoundedRectangle (area, panelRadius);
        return p;
    }

    // Main window background, drawn in window coordinates and squeezed into 420 x 700.
    juce::Image drawBackground()
    {
        auto image = makeImage (420, 700);
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (1.0f, (float) image.getHeight() / windowHeight));

        const juce::Rectangle<float> window { 0.0f, 0.0f, 420.0f, windowHeight };

        g.setGradientFill (juce::ColourGradient::vertical (Palette::page, 90.0f, Palette::pageLow, windowHeight));
        g.fillRect (window);

        // Header band with the mark and the name.
        const auto band = window.withHeight (86.0f);
        g.setGradientFill (juce::ColourGradient::vertical (Palette::header, 0.0f, Palette::page.brighter (0.02f), band.getBottom()));
        g.fillRect (band);
        g.setColour (Palette::rule);
        g.fillRect (band.withTop (band.getBottom() - 1.0f));
        g.setColour (Palette::accent);
        g.fillRect (juce::Rectangle<float> (16.0f, band.getBottom() - 3.0f, 48.0f, 3.0f));

        drawMark (g, { 16.0f, 20.0f, 48.0f, 48.0f }, Palette::ink, Palette::accent);

        g.setColour (Palette::ink);
        g.setFont (font (27.0f, juce::Font::bold));
        g.drawText ("Korvel Quillon", juce::Rectangle<float> (76.0f, 20.0f, 330.0f, 30.0f), juce::Justification::centredLeft, false);
        g.setColour (Palette::muted);
        g.setFont (font (12.5f));
        g.drawText (juce::CharPointer_UTF8 ("Sample converter  \xc2\xb7  44.1 kHz  \xc2\xb7  16-bit WAV"),
                    juce::Rectangle<float> (77.0f, 50.0f, 330.0f, 16.0f), juce::Justification::centredLeft, false);

        // The drop panel's ground: its colour reaches above the panel for the caption, and a
        // soft shadow lifts the whole panel off the page.
        const auto panel = dropPanelOutline (dropPanelInWindow.withTop (dropAreaTop - 1.0f));
        juce::DropShadow (juce::Colours::black.withAlpha (0.22f), 10, { 0, 3 }).drawForPath (g, panel);
        g.setColour (Palette::slate);
        g.fillPath (panel);

        // The status frame, drawn over this at its natural size, sits on the same kind of shadow.
        juce::DropShadow (juce::Colours::black.withAlpha (0.10f), 6, { 0, 2 }).drawForRectangle (g, statusFrameInWindow);

        return image;
    }

    juce::Image drawDropArea()
    {
        auto image = makeImage (389, 260);
        juce::Graphics g (image);
        const auto bounds = image.getBounds().toFloat();

        g.setColour (Palette::slate);
        g.fillPath (dropPanelOutline (bounds));

        // Dashed border of the drop zone, open at the top where the caption sits, as a legend.
        const juce::String caption { "DROP SAMPLES HERE TO CONVERT" };
        auto captionFont = font (18.0f);
        captionFont.setExtraKerningFactor (0.08f);
        const auto captionHalfWidth = captionFont.getStringWidthFloat (caption) * 0.5f + 9.0f;

        // Each half runs from the caption down to the middle of the bottom edge, so the dashes
        // lie mirrored on both sides.
        const auto zone = bounds.reduced (4.5f, 0.0f).withTrimmedTop (1.5f).withTrimmedBottom (3.5f);
        const auto r = panelRadius - 3.0f;
        juce::Path half;
        half.startNewSubPath (bounds.getCentreX() - captionHalfWidth, zone.getY());
        half.lineTo (zone.getX() + r, zone.getY());
        half.quadraticTo (zone.getTopLeft(), zone.getTopLeft().translated (0.0f, r));
        half.lineTo (zone.getBottomLeft().translated (0.0f, -r));
        half.quadraticTo (zone.getBottomLeft(), zone.getBottomLeft().translated (r, 0.0f));
        half.lineTo (bounds.getCentreX(), zone.getBottom());

        const float dashes[] { 5.0f, 4.0f };
        juce::Path left;
        juce::PathStrokeType (1.0f).createDashedStroke (left, half, dashes, juce::numElementsInArray (dashes));
        auto right = left;
        right.applyTransform (juce::AffineTransform::scale (-1.0f, 1.0f, bounds.getCentreX(), 0.0f));

        g.setColour (Palette::dash);
        g.fillPath (left);
        g.fillPath (right);

        return image;
    }

    // Square cornered: the status text box draws its own rectangular outline over the frame's edge.
    juce::Image drawStatusFrame()
    {
        auto image = makeImage (382, 169);
        juce::Graphics g (image);
        const auto frame = image.getBounds().toFloat();

        g.setColour (Palette::paper);
        g.fillRect (frame);

        // A faint shade along the top edge, so the frame reads as a recessed log.
        g.setGradientFill (juce::ColourGradient::vertical (Palette::ink.withAlpha (0.08f), 1.0f, Palette::ink.withAlpha (0.0f), 7.0f));
        g.fillRect (frame.reduced (1.0f));

        g.setColour (Palette::rule.darker (0.08f));
        g.drawRect (frame, 1.0f);

        return image;
    }

    enum class ButtonState { normal, hover, pressed };

    juce::Image drawConvertButton (ButtonState state)
    {
        auto image = makeImage (111, 32);
        juce::Graphics g (image);

        const auto pressed = state == ButtonState::pressed;
        const auto body = juce::Rectangle<float> (0.5f, pressed ? 1.5f : 0.5f, 110.0f, 29.0f);
        constexpr float radius = 6.0f;

        juce::Path shape;
        shape.addRoundedRectangle (body, radius);

        if (! pressed)
            juce::DropShadow (Palette::ink.withAlpha (0.35f), 2, { 0, 1 }).drawForPath (g, shape);

        const auto top = state == ButtonState::hover ? juce::Colour (0xff5cc2fa)
                       : pressed                     ? juce::Colour (0xff1b78bd)
                                                     : Palette::accent;
        const auto bottom = state == ButtonState::hover ? juce::Colour (0xff34a8f0)
                          : pressed                     ? juce::Colour (0xff1f88d2)
                                                        : Palette::accentDeep;
        g.setGradientFill (juce::ColourGradient::vertical (top, body.getY(), bottom, body.getBottom()));
        g.fillPath (shape);

        // Light along the top edge when raised, shade when pushed in.
        g.saveState();
        g.reduceClipRegion (shape);
        g.setColour (pressed ? Palette::ink.withAlpha (0.25f) : juce::Colours::white.withAlpha (0.28f));
        g.fillRect (body.withHeight (1.0f).translated (0.0f, 0.5f));
        g.restoreState();

        g.setColour (Palette::accentDeep.darker (pressed ? 0.6f : 0.35f));
        g.strokePath (shape, juce::PathStrokeType (1.0f));

        const auto label = body.withTrimmedBottom (1.0f);
        g.setFont (font (15.0f, juce::Font::bold));
        g.setColour (Palette::ink.withAlpha (0.3f));
        g.drawText ("Convert", label.translated (0.0f, 1.0f), juce::Justification::centred, false);
        g.setColour (juce::Colours::white);
        g.drawText ("Convert", label, juce::Justification::centred, false);

        return image;
    }

    // The small cross of the remove and clear-all buttons: a coral badge that stands out on the
    // dark panel as on the light page. In a table row only its middle 11 columns show.
    juce::Image drawCrossButton()
    {
        auto image = makeImage (13, 13);
        juce::Graphics g (image);
        const juce::Point<float> centre { 6.5f, 6.5f };

        g.setColour (Palette::coral);
        g.fillEllipse (juce::Rectangle<float> (11.0f, 11.0f).withCentre (centre));

        constexpr float arm = 2.5f;
        constexpr float thickness = 1.6f;
        g.setColour (juce::Colours::white);
        g.drawLine ({ centre.translated (-arm, -arm), centre.translated (arm, arm) }, thickness);
        g.drawLine ({ centre.translated (-arm, arm), centre.translated (arm, -arm) }, thickness);

        return image;
    }

    // About window: the mark and the name on a dark band, a light middle band for the version
    // line (y 179) and the two notice lines (y 211 and 227), and a hint that a click closes it:
    // the window has no close button.
    juce::Image drawAboutBackground()
    {
        auto image = makeImage (420, 418);
        juce::Graphics g (image);
        const auto bounds = image.getBounds().toFloat();

        g.setGradientFill (juce::ColourGradient::vertical (Palette::header, 150.0f, Palette::pageLow, bounds.getBottom()));
        g.fillRect (bounds);

        const auto band = bounds.withHeight (152.0f);
        g.setGradientFill (juce::ColourGradient::vertical (Palette::slate.brighter (0.12f), 0.0f, Palette::slate, band.getBottom()));
        g.fillRect (band);
        g.setColour (Palette::accent);
        g.fillRect (band.withTop (band.getBottom() - 3.0f));

        drawMark (g, { 178.0f, 16.0f, 64.0f, 64.0f }, juce::Colours::white, Palette::accent.brighter (0.2f));

        g.setColour (juce::Colours::white);
        g.setFont (font (30.0f, juce::Font::bold));
        g.drawText ("Korvel Quillon", band.withY (86.0f).withHeight (34.0f), juce::Justification::centred, false);
        g.setColour (juce::Colour (0xffa9b6c6));
        g.setFont (font (13.0f));
        g.drawText ("Sample converter for hardware samplers",
                    band.withY (120.0f).withHeight (18.0f), juce::Justification::centred, false);

        // A quiet waveform below the text.
        juce::Path wave;
        constexpr float waveY = 318.0f;
        for (int x = 40; x <= 380; x += 4)
        {
            const auto t = (float) (x - 40) / 340.0f;
            const auto envelope = std::sin (t * juce::MathConstants<float>::pi);
            const auto height = 3.0f + 26.0f * envelope * std::abs (std::sin ((float) x * 0.19f) * std::cos ((float) x * 0.047f));
            wave.addRoundedRectangle ((float) x - 1.0f, waveY - height, 2.0f, height * 2.0f, 1.0f);
        }
        g.setColour (Palette::accent.withAlpha (0.28f));
        g.fillPath (wave);

        g.setColour (Palette::muted);
        g.setFont (font (12.0f, juce::Font::italic));
        g.drawText ("Click to close", bounds.withY (380.0f).withHeight (16.0f), juce::Justification::centred, false);

        // The window has no frame of its own.
        g.setColour (Palette::slate.withAlpha (0.6f));
        g.drawRect (bounds, 1.0f);

        return image;
    }

    struct Artwork
    {
        const char* fileName;
        std::function<juce::Image()> draw;
    };

    const Artwork artworks[]
    {
        { "Korvel_Quiln_Background.png",          drawBackground },
        { "Korvel_Quiln_AboutBackground.png",     drawAboutBackground },
        { "Korvel_Quiln_ConvertButton_Off.png",   [] { return drawConvertButton (ButtonState::normal); } },
        { "Korvel_Quiln_ConvertButton_Hover.png", [] { return drawConvertButton (ButtonState::hover); } },
        { "Korvel_Quiln_ConvertButton_Press.png", [] { return drawConvertButton (ButtonState::pressed); } },
        { "Korvel_Quiln_ConvertedFiles.png",      drawStatusFrame },
        { "Korvel_Quiln_DropArea.png",            drawDropArea },
        { "Korvel_Quiln_Xbutton.png",             drawCrossButton },
    };

    enum class WriteResult { written, unchanged, failed };

    WriteResult writePng (const juce::Image& image, const juce::File& file)
    {
        juce::MemoryOutputStream png;

        if (! juce::PNGImageFormat().writeImageToStream (image, png))
            return WriteResult::failed;

        juce::MemoryBlock existing;

        if (file.existsAsFile() && file.loadFileAsData (existing) && existing == png.getMemoryBlock())
            return WriteResult::unchanged;

        return file.replaceWithData (png.getData(), png.getDataSize()) ? WriteResult::written
                                                                       : WriteResult::failed;
    }
}

int main (int argc, char* argv[])
{
    if (argc != 2)
    {
        std::cerr << "usage: quillon_artwork <output folder>\n";
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI framework;

    // Another typeface would silently change every image's text.
    if (! juce::Font::findAllTypefaceNames().contains (typefaceName))
    {
        std::cerr << "quillon_artwork: the font \"" << typefaceName << "\" is not installed\n";
        return 1;
    }

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (argv[1]));

    if (const auto created = folder.createDirectory(); created.failed())
    {
        std::cerr << "quillon_artwork: cannot create " << folder.getFullPathName() << ": "
                  << created.getErrorMessage() << "\n";
        return 1;
    }

    auto status = 0;

    for (const auto& artwork : artworks)
    {
        const auto file = folder.getChildFile (artwork.fileName);
        const auto result = writePng (artwork.draw(), file);

        std::cout << (result == WriteResult::written   ? "written    "
                    : result == WriteResult::unchanged ? "unchanged  "
                                                       : "FAILED     ")
                  << file.getFullPathName() << "\n";

        if (result == WriteResult::failed)
            status = 1;
    }

    return status;
}
