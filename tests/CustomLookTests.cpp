#include "ui/CustomLook.h"
#include "support/ImageTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace juce
{
    template <typename T>
    void PrintTo (const Rectangle<T>& r, std::ostream* os) { *os << r.toString(); }
}

using quillon::test::boundsOf;

namespace
{
    constexpr int barWidth = 389;
    constexpr int barHeight = 25;

    const auto barBackground = juce::Colours::lightgrey;

    bool isNear (juce::Colour actual, juce::Colour expected, int tolerance)
    {
        return std::abs (actual.getRed() - expected.getRed()) <= tolerance
            && std::abs (actual.getGreen() - expected.getGreen()) <= tolerance
            && std::abs (actual.getBlue() - expected.getBlue()) <= tolerance
            && std::abs (actual.getAlpha() - expected.getAlpha()) <= tolerance;
    }

    bool isBlue (juce::Colour c)      { return c.getBlue() > 220 && c.getRed() < 60 && c.getGreen() > 140; }
    bool isTextPixel (juce::Colour c) { return c.getRed() < 100 && c.getGreen() < 100 && c.getBlue() < 100; }

    struct ProgressBarFixture : testing::Test
    {
        ProgressBarFixture()
        {
            bar.setColour (juce::ProgressBar::backgroundColourId, barBackground);
            bar.setColour (juce::ProgressBar::foregroundColourId, juce::Colours::darkred);
        }

        juce::Image render (double progress, const juce::String& text = {}, int width = barWidth)
        {
            juce::Image image (juce::Image::ARGB, width, barHeight, true);
            juce::Graphics g (image);
            look.drawProgressBar (g, bar, width, barHeight, progress, text);
            return image;
        }

        CustomLook look;
        double value = 0.0;
        juce::ProgressBar bar { value };
    };
}

//==============================================================================
TEST_F (ProgressBarFixture, HalfwayFillsHalfTheInnerWidthWithTheGradient)
{
    const auto image = render (0.5);

    // The fill is (1, 1, 193.5, 23): the frame of one pixel and everything right of x 194.5
    // keep the background.
    EXPECT_EQ (boundsOf (image, isBlue), juce::Rectangle<int> (1, 1, 193, 23));

    for (const int x : { 0, 195, 300, barWidth - 1 })
        EXPECT_TRUE (isNear (image.getPixelAt (x, 12), barBackground, 0)) << "x " << x;

    for (const int y : { 0, barHeight - 1 })
        EXPECT_TRUE (isNear (image.getPixelAt (100, y), barBackground, 0)) << "y " << y;

    // The half-covered column blends the gradient with the background.
    const auto edge = image.getPixelAt (194, 12);
    EXPECT_FALSE (isBlue (edge));
    EXPECT_FALSE (isNear (edge, barBackground, 10));

    // From the top edge the blue darkens until 30 % of the height, then stays.
    EXPECT_TRUE (isNear (image.getPixelAt (100, 1), juce::Colour::fromRGB (49, 177, 249), 5));

    for (int y = 8; y < barHeight - 1; ++y)
        EXPECT_TRUE (isNear (image.getPixelAt (100, y), juce::Colour::fromRGB (43, 160, 238), 2)) << "y " << y;

    // The foreground colour plays no part.
    EXPECT_TRUE (boundsOf (image, [] (juce::Colour c) { return c.getRed() > 100 && c.getGreen() < 50; }).isEmpty());
}

struct ProgressCase
{
    double progress;
    juce::Rectangle<int> expectedFill;   // empty: no bar at all
};

void PrintTo (const ProgressCase& c, std::ostream* os)
{
    *os << "progress " << c.progress << ", fill " << c.expectedFill.toString();
}

class ProgressBarValues : public ProgressBarFixture,
                          public testing::WithParamInterface<ProgressCase> {};

TEST_P (ProgressBarValues, FillFollowsTheValueWithinZeroToOne)
{
    const auto image = render (GetParam().progress);

    EXPECT_EQ (boundsOf (image, isBlue), GetParam().expectedFill);

    if (GetParam().expectedFill.isEmpty())
    {
        EXPECT_TRUE (boundsOf (image, [] (juce::Colour c) { return ! isNear (c, barBackground, 0); }).isEmpty())
            << "only the background is drawn";
    }
}

INSTANTIATE_TEST_SUITE_P (Table, ProgressBarValues, testing::Values (
    ProgressCase { 0.0, {} },
    ProgressCase { 1.0, { 1, 1, barWidth - 2, barHeight - 2 } },
    ProgressCase { -1.0, {} },
    ProgressCase { 1.5, {} },
    ProgressCase { std::numeric_limits<double>::quiet_NaN(), {} },
    ProgressCase { std::numeric_limits<double>::infinity(), {} }));

TEST_F (ProgressBarFixture, TextIsBlackCentredAndSixTenthsOfTheHeight)
{
    const auto image = render (0.5, "50%");
    const auto text = boundsOf (image, isTextPixel);

    ASSERT_FALSE (text.isEmpty());
    EXPECT_NEAR (text.getCentreX(), barWidth / 2, 3);
    EXPECT_NEAR (text.getCentreY(), barHeight / 2, 2);

    // Digits and the percent sign of a 15-pixel font stand about 11 pixels tall.
    EXPECT_GE (text.getHeight(), 9);
    EXPECT_LE (text.getHeight(), 15);

    // The text also shows where no bar is drawn.
    EXPECT_FALSE (boundsOf (render (-1.0, "50%"), isTextPixel).isEmpty());
}

TEST_F (ProgressBarFixture, EmptyTextDrawsNothingAndKeepsTheFont)
{
    juce::Image image (juce::Image::ARGB, barWidth, barHeight, true);
    juce::Graphics g (image);
    g.setFont (33.0f);

    look.drawProgressBar (g, bar, barWidth, barHeight, 0.5, {});

    EXPECT_TRUE (boundsOf (image, isTextPixel).isEmpty());
    EXPECT_FLOAT_EQ (g.getCurrentFont().getHeight(), 33.0f);
}

TEST_F (ProgressBarFixture, BarNarrowerThanTwoPixelsGetsNoFill)
{
    for (const int width : { 1, 2 })
        EXPECT_TRUE (boundsOf (render (1.0, {}, width), isBlue).isEmpty()) << "width " << width;
}

TEST_F (ProgressBarFixture, BackgroundComesFromTheLookAndFeelWhenTheBarHasNone)
{
    bar.removeColour (juce::ProgressBar::backgroundColourId);

    juce::Component parent;
    parent.setColour (juce::ProgressBar::backgroundColourId, juce::Colours::red);
    parent.addChildComponent (bar);

    const auto image = render (0.0);
    EXPECT_TRUE (isNear (image.getPixelAt (5, 5), bar.getLookAndFeel().findColour (juce::ProgressBar::backgroundColourId), 0))
        << "the parent's colour is not inherited";
}

//==============================================================================
namespace
{
    juce::Image snapshot (juce::Component& component)
    {
        return component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
    }

    float alphaAt (const juce::Image& image, int x, int y)
    {
        return image.getPixelAt (x, y).getFloatAlpha();
    }

    struct ToggleFixture : testing::Test
    {
        ToggleFixture()  { button.setLookAndFeel (&look); }
        ~ToggleFixture() override { button.setLookAndFeel (nullptr); }

        juce::Image render (int height, const juce::String& text, bool ticked = false, bool enabled = true)
        {
            button.setSize (buttonWidth, height);
            button.setButtonText (text);
            button.setToggleState (ticked, juce::dontSendNotification);
            button.setEnabled (enabled);
            return snapshot (button);
        }

        static constexpr int buttonWidth = 140;

        CustomLook look;
        juce::ToggleButton button;
    };

    /** Columns in which the two images differ. */
    juce::Range<int> differingColumns (const juce::Image& a, const juce::Image& b)
    {
        juce::Range<int> columns;

        for (int x = 0; x < a.getWidth(); ++x)
            for (int y = 0; y < a.getHeight(); ++y)
                if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                {
                    const juce::Range<int> column (x, x + 1);
                    columns = columns.isEmpty() ? column : columns.getUnionWith (column);
                    break;
                }

        return columns;
    }
}

struct TickGeometry
{
    int buttonHeight;
    float boxTop;   // the box is 16.5 pixels square at x 4
};

void PrintTo (const TickGeometry& g, std::ostream* os)
{
    *os << "height " << g.buttonHeight << ", box top " << g.boxTop;
}

class ToggleButtonGeometry : public ToggleFixture,
                             public testing::WithParamInterface<TickGeometry> {};

TEST_P (ToggleButtonGeometry, BoxOutlineLiesWhereTheHeightPutsIt)
{
    const auto image = render (GetParam().buttonHeight, {});
    const auto top = GetParam().boxTop;
    const auto bottom = top + 16.5f;
    const auto middleY = (int) (top + 8.0f);

    // A one-pixel outline inside the box: the left edge covers column 4 fully, the right one
    // columns 19 and 20 by half.
    EXPECT_FLOAT_EQ (alphaAt (image, 3, middleY), 0.0f);
    EXPECT_NEAR (alphaAt (image, 4, middleY), 1.0f, 0.02);
    EXPECT_FLOAT_EQ (alphaAt (image, 5, middleY), 0.0f);
    EXPECT_NEAR (alphaAt (image, 19, middleY), 0.5f, 0.05);
    EXPECT_NEAR (alphaAt (image, 20, middleY), 0.5f, 0.05);
    EXPECT_FLOAT_EQ (alphaAt (image, 21, middleY), 0.0f);

    // The top edge runs from top to top + 1 and the bottom one ends at bottom, each a quarter
    // into one pixel row and three quarters into the next.
    const auto topRow = (int) top;
    EXPECT_FLOAT_EQ (alphaAt (image, 12, topRow - 1), 0.0f);
    EXPECT_NEAR (alphaAt (image, 12, topRow), 0.25f, 0.05);
    EXPECT_NEAR (alphaAt (image, 12, topRow + 1), 0.75f, 0.05);
    EXPECT_FLOAT_EQ (alphaAt (image, 12, topRow + 2), 0.0f);

    const auto bottomRow = (int) bottom;
    EXPECT_NEAR (alphaAt (image, 12, bottomRow - 1), 0.75f, 0.05);
    EXPECT_NEAR (alphaAt (image, 12, bottomRow), 0.25f, 0.05);
    EXPECT_FLOAT_EQ (alphaAt (image, 12, bottomRow + 1), 0.0f);

    // The outline is black.
    EXPECT_EQ (image.getPixelAt (4, middleY).withAlpha ((juce::uint8) 255), juce::Colours::black);
}

TEST_P (ToggleButtonGeometry, TextStartsRightOfTheBoxAndEndsTwoPixelsBeforeTheEdge)
{
    const auto withoutText = render (GetParam().buttonHeight, {});
    const auto withText = render (GetParam().buttonHeight, "Wide Label Text");
    const auto columns = differingColumns (withoutText, withText);

    ASSERT_FALSE (columns.isEmpty());
    EXPECT_GE (columns.getStart(), 21);
    EXPECT_LE (columns.getStart(), 23);
    EXPECT_LE (columns.getEnd(), buttonWidth - 2);
}

INSTANTIATE_TEST_SUITE_P (Heights, ToggleButtonGeometry, testing::Values (
    TickGeometry { 20, 1.75f },
    TickGeometry { 40, 11.75f }));

TEST_F (ToggleFixture, TickedBoxShowsBothDiagonals)
{
    const auto unticked = render (20, {});
    const auto ticked = render (20, {}, true);

    // Box (4, 1.75, 16.5, 16.5): the diagonals cross in its centre and pass near its corners.
    EXPECT_FLOAT_EQ (alphaAt (unticked, 12, 10), 0.0f);
    EXPECT_GT (alphaAt (ticked, 12, 10), 0.4f);
    EXPECT_GT (alphaAt (ticked, 7, 5), 0.3f);     // top-left to bottom-right
    EXPECT_GT (alphaAt (ticked, 17, 5), 0.3f);    // bottom-left to top-right
    EXPECT_FLOAT_EQ (alphaAt (ticked, 12, 5), 0.0f);
}

TEST_F (ToggleFixture, DisabledButtonDrawsItsBoxAsEnabledAndItsTextAtHalfOpacity)
{
    const auto enabled = render (20, "Label", true, true);
    const auto disabled = render (20, "Label", true, false);

    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 21; ++x)
            ASSERT_EQ (enabled.getPixelAt (x, y), disabled.getPixelAt (x, y)) << x << ", " << y;

    float enabledText = 0.0f, disabledText = 0.0f;

    for (int y = 0; y < 20; ++y)
        for (int x = 21; x < ToggleFixture::buttonWidth; ++x)
        {
            enabledText = juce::jmax (enabledText, alphaAt (enabled, x, y));
            disabledText = juce::jmax (disabledText, alphaAt (disabled, x, y));
        }

    EXPECT_GT (enabledText, 0.95f);
    EXPECT_NEAR (disabledText, 0.5f, 0.03);
}

TEST (CustomLookTickBox, FlagsDoNotChangeTheDrawing)
{
    CustomLook look;
    juce::Component owner;

    const auto draw = [&] (bool ticked, bool enabled, bool over, bool down)
    {
        juce::Image image (juce::Image::ARGB, 30, 30, true);
        juce::Graphics g (image);
        look.drawTickBox (g, owner, 4.0f, 4.0f, 20.0f, 20.0f, ticked, enabled, over, down);
        return image;
    };

    for (const bool ticked : { false, true })
    {
        const auto reference = draw (ticked, true, false, false);

        for (const auto& [enabled, over, down] : { std::tuple { false, false, false },
                                                   std::tuple { true, true, false },
                                                   std::tuple { true, false, true },
                                                   std::tuple { false, true, true } })
        {
            const auto image = draw (ticked, enabled, over, down);

            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 30; ++x)
                    ASSERT_EQ (image.getPixelAt (x, y), reference.getPixelAt (x, y))
                        << "ticked " << ticked << " enabled " << enabled << " over " << over << " down " << down;
        }
    }
}
