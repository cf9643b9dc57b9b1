#include <BinaryData.h>

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

// The layout rests on the sizes of the embedded images, and what is drawn over them (white names
// on the drop panel, black and grey text on the page and in the status frame) needs the artwork
// dark or light in the right places.

namespace
{
    struct EmbeddedImage
    {
        const char* name;
        const char* data;
        int size;
        int width;
        int height;
    };

    const EmbeddedImage embeddedImages[]
    {
        { "Background",          BinaryData::Korvel_Quiln_Background_png,          BinaryData::Korvel_Quiln_Background_pngSize,          420, 700 },
        { "AboutBackground",     BinaryData::Korvel_Quiln_AboutBackground_png,     BinaryData::Korvel_Quiln_AboutBackground_pngSize,     420, 418 },
        { "ConvertButton_Off",   BinaryData::Korvel_Quiln_ConvertButton_Off_png,   BinaryData::Korvel_Quiln_ConvertButton_Off_pngSize,   111, 32 },
        { "ConvertButton_Hover", BinaryData::Korvel_Quiln_ConvertButton_Hover_png, BinaryData::Korvel_Quiln_ConvertButton_Hover_pngSize, 111, 32 },
        { "ConvertButton_Press", BinaryData::Korvel_Quiln_ConvertButton_Press_png, BinaryData::Korvel_Quiln_ConvertButton_Press_pngSize, 111, 32 },
        { "ConvertedFiles",      BinaryData::Korvel_Quiln_ConvertedFiles_png,      BinaryData::Korvel_Quiln_ConvertedFiles_pngSize,      382, 169 },
        { "DropArea",            BinaryData::Korvel_Quiln_DropArea_png,            BinaryData::Korvel_Quiln_DropArea_pngSize,            389, 260 },
        { "Xbutton",             BinaryData::Korvel_Quiln_Xbutton_png,             BinaryData::Korvel_Quiln_Xbutton_pngSize,             13, 13 },
    };

    juce::Image decode (const char* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }

    // The main background is stretched from 700 to the window's 720 pixels.
    juce::Rectangle<int> backgroundAreaOf (juce::Rectangle<int> windowArea)
    {
        const auto toImage = [] (int y) { return y * 700 / 720; };
        return juce::Rectangle<int>::leftTopRightBottom (windowArea.getX(), toImage (windowArea.getY()),
                                                         windowArea.getRight(), toImage (windowArea.getBottom()));
    }

    struct Ground
    {
        float darkest = 1.0f;
        float brightest = 0.0f;
        bool opaque = true;
    };

    Ground groundOf (const juce::Image& image, juce::Rectangle<int> area)
    {
        Ground ground;
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);

        for (auto y = area.getY(); y < area.getBottom(); ++y)
        {
            for (auto x = area.getX(); x < area.getRight(); ++x)
            {
                const auto colour = pixels.getPixelColour (x, y);
                ground.darkest = juce::jmin (ground.darkest, colour.getPerceivedBrightness());
                ground.brightest = juce::jmax (ground.brightest, colour.getPerceivedBrightness());
                ground.opaque = ground.opaque && colour.isOpaque();
            }
        }

        return ground;
    }
}

TEST (Artwork, EveryImageHasTheSizeTheLayoutNeedsAndIsEightBitRgba)
{
    for (const auto& embedded : embeddedImages)
    {
        SCOPED_TRACE (embedded.name);

        // PNG signature, then the IHDR chunk: bit depth at byte 24, colour type at byte 25.
        ASSERT_GT (embedded.size, 26);
        const auto* bytes = reinterpret_cast<const juce::uint8*> (embedded.data);
        EXPECT_EQ (juce::String::fromUTF8 (embedded.data + 1, 3), "PNG");
        EXPECT_EQ (bytes[24], 8);
        EXPECT_EQ (bytes[25], 6) << "not RGBA";

        const auto image = decode (embedded.data, embedded.size);
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), embedded.width);
        EXPECT_EQ (image.getHeight(), embedded.height);
    }
}

TEST (Artwork, TextIsDrawnOnGroundThatSuitsIt)
{
    const auto background = decode (BinaryData::Korvel_Quiln_Background_png, BinaryData::Korvel_Quiln_Background_pngSize);
    const auto dropPanel = decode (BinaryData::Korvel_Quiln_DropArea_png, BinaryData::Korvel_Quiln_DropArea_pngSize);
    const auto statusFrame = decode (BinaryData::Korvel_Quiln_ConvertedFiles_png, BinaryData::Korvel_Quiln_ConvertedFiles_pngSize);
    const auto about = decode (BinaryData::Korvel_Quiln_AboutBackground_png, BinaryData::Korvel_Quiln_AboutBackground_pngSize);

    const struct
    {
        const char* text;
        const juce::Image& image;
        juce::Rectangle<int> area;
        bool dark;
    } cases[]
    {
        // The drop area's caption reaches 8 pixels above its panel, onto the main background.
        { "caption above the drop panel", background, backgroundAreaOf ({ 40, 102, 341, 8 }), true },
        { "white names in the file table", dropPanel, { 10, 10, 374, 245 }, true },
        { "\"Clear All\" beside its cross", background, backgroundAreaOf ({ 27, 381, 100, 13 }), false },
        { "\"Progress\" label", background, backgroundAreaOf ({ 16, 470, 389, 15 }), false },
        { "\"CONVERSION STATUS\" title", background, backgroundAreaOf ({ 16, 485, 389, 23 }), false },
        { "status text", statusFrame, { 2, 2, 378, 165 }, false },
        { "About version and notice lines", about, { 1, 179, 418, 63 }, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        const auto ground = groundOf (c.image, c.area);
        EXPECT_TRUE (ground.opaque);

        if (c.dark)
            EXPECT_LT (ground.brightest, 0.3f);
        else
            EXPECT_GT (ground.darkest, 0.75f);
    }

    // Both backgrounds cover their windows completely.
    EXPECT_TRUE (groundOf (background, background.getBounds()).opaque);
    EXPECT_TRUE (groundOf (about, about.getBounds()).opaque);
}

TEST (Artwork, TheThreeConvertButtonStatesDiffer)
{
    const juce::Image states[]
    {
        decode (BinaryData::Korvel_Quiln_ConvertButton_Off_png, BinaryData::Korvel_Quiln_ConvertButton_Off_pngSize),
        decode (BinaryData::Korvel_Quiln_ConvertButton_Hover_png, BinaryData::Korvel_Quiln_ConvertButton_Hover_pngSize),
        decode (BinaryData::Korvel_Quiln_ConvertButton_Press_png, BinaryData::Korvel_Quiln_ConvertButton_Press_pngSize),
    };

    // A state is visibly different when much of the button changes, not just a few pixels.
    const auto changedShare = [] (const juce::Image& a, const juce::Image& b)
    {
        auto changed = 0;

        for (auto y = 0; y < a.getHeight(); ++y)
            for (auto x = 0; x < a.getWidth(); ++x)
                if (std::abs (a.getPixelAt (x, y).getPerceivedBrightness() - b.getPixelAt (x, y).getPerceivedBrightness()) > 0.04f)
                    ++changed;

        return (float) changed / (float) (a.getWidth() * a.getHeight());
    };

    EXPECT_GT (changedShare (states[0], states[1]), 0.5f) << "normal and hover";
    EXPECT_GT (changedShare (states[0], states[2]), 0.5f) << "normal and pressed";
    EXPECT_GT (changedShare (states[1], states[2]), 0.5f) << "hover and pressed";
}
