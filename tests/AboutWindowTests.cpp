#include "support/TestSupport.h"
#include "ui/AboutWindow.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using quillon::test::pumpFor;
using quillon::test::pumpUntil;

namespace
{
    // What the application's About command does.
    void openAbout (AboutWindow::Ptr& window)
    {
        if (window == nullptr)
            window = new AboutWindow();

        window->addToDesktop();
        window->toFront (true);
    }

    // Readable failure messages.
    std::string str (juce::Rectangle<int> r) { return r.toString().toStdString(); }
    std::string str (juce::Colour c)         { return c.toDisplayString (true).toStdString(); }

    juce::Label* versionLabelOf (juce::Component& content)
    {
        for (auto* child : content.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
                return label;

        return nullptr;
    }

    // A press and release of the left button at a point of the window, through its peer.
    void clickAt (AboutWindow& window, juce::Point<float> position)
    {
        auto* peer = window.getPeer();
        ASSERT_NE (peer, nullptr);

        const auto send = [&] (juce::ModifierKeys mods)
        {
            peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, position, mods,
                                    juce::MouseInputSource::defaultPressure,
                                    juce::MouseInputSource::defaultOrientation,
                                    juce::Time::currentTimeMillis());
        };

        send (juce::ModifierKeys::leftButtonModifier);
        pumpFor (20);
        send ({});
        pumpFor (20);
    }

    class AboutWindowTest : public testing::Test
    {
    protected:
        AboutWindowTest()
        {
            openAbout (window);
            pumpUntil ([this] { return window->isShowing(); }, 2000);
        }

        juce::Component& content() { return *window->getContentComponent(); }

        AboutWindow::Ptr window;
    };
}

TEST_F (AboutWindowTest, IsABorderlessFixedWindowOnTop)
{
    EXPECT_EQ (window->getName(), juce::String());
    EXPECT_EQ (window->getWidth(), 420);
    EXPECT_EQ (window->getHeight(), 418);
    EXPECT_EQ (str (content().getBounds()), "0 0 420 418") << "the artwork fills the window";
    EXPECT_EQ (window->getNumChildComponents(), 1) << "no resizer, no title bar component";

    EXPECT_FALSE (window->isResizable());
    EXPECT_FALSE (window->isUsingNativeTitleBar());
    EXPECT_TRUE (window->isAlwaysOnTop());
    EXPECT_TRUE (window->isOnDesktop());
    EXPECT_TRUE (window->isVisible());

    auto* peer = window->getPeer();
    ASSERT_NE (peer, nullptr);
    EXPECT_EQ (peer->getStyleFlags() & (juce::ComponentPeer::windowHasTitleBar
                                        | juce::ComponentPeer::windowIsResizable
                                        | juce::ComponentPeer::windowHasCloseButton), 0);

    const auto screen = juce::Desktop::getInstance().getDisplays()
                            .getDisplayForRect (window->getScreenBounds())->userArea;
    EXPECT_LE (window->getBounds().getCentre().getDistanceFrom (screen.getCentre()), 1) << "centred";
}

TEST_F (AboutWindowTest, ShowsTheVersionLine)
{
    auto* label = versionLabelOf (content());
    ASSERT_NE (label, nullptr);

    EXPECT_EQ (label->getText().toStdString(), "Version: 1.1.6");
    EXPECT_EQ (label->getName().toStdString(), "new label");
    EXPECT_EQ (str (label->getBounds()), "0 179 420 15");
    EXPECT_TRUE (label->isVisible());
    EXPECT_EQ (label->getJustificationType(), juce::Justification::centred);
    EXPECT_FLOAT_EQ (label->getFont().getHeight(), 15.0f);
    EXPECT_FALSE (label->isEditableOnSingleClick());
    EXPECT_FALSE (label->isEditableOnDoubleClick());
    EXPECT_EQ (str (label->findColour (juce::Label::textColourId)), str (juce::Colours::black));
}

TEST_F (AboutWindowTest, AClickOnTheArtworkHidesItAndAboutShowsTheSameWindow)
{
    const auto bounds = window->getBounds();
    const juce::Component::SafePointer<juce::Component> contentBefore (&content());

    // Neither the version line nor a key hides the window.
    clickAt (*window, { 210.0f, 185.0f });
    EXPECT_TRUE (window->isOnDesktop()) << "the version line takes its click";

    for (const auto key : { juce::KeyPress::escapeKey, juce::KeyPress::returnKey, juce::KeyPress::spaceKey })
        window->getPeer()->handleKeyPress (juce::KeyPress (key));

    pumpFor (20);
    EXPECT_TRUE (window->isOnDesktop()) << "no key hides it";

    for (const auto point : { juce::Point<float> (210.0f, 100.0f), juce::Point<float> (2.0f, 416.0f),
                              juce::Point<float> (210.0f, 218.0f) })
    {
        const auto* before = window.get();
        clickAt (*window, point);
        EXPECT_FALSE (window->isOnDesktop()) << "a click at " << point.toString() << " hides it";
        EXPECT_EQ (contentBefore.getComponent(), window->getContentComponent()) << "content stays alive";

        openAbout (window);
        EXPECT_EQ (window.get(), before) << "the same window comes back";
        EXPECT_TRUE (pumpUntil ([this] { return window->isShowing(); }, 2000));
        EXPECT_EQ (str (window->getBounds()), str (bounds)) << "where it was built";
        EXPECT_TRUE (window->isAlwaysOnTop());
    }
}

TEST_F (AboutWindowTest, AboutTwiceKeepsOneWindow)
{
    const auto countAboutWindows = []
    {
        int count = 0;
        for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
            count += dynamic_cast<AboutWindow*> (juce::Desktop::getInstance().getComponent (i)) != nullptr ? 1 : 0;
        return count;
    };

    const auto* first = window.get();
    openAbout (window);
    openAbout (window);
    pumpFor (20);

    EXPECT_EQ (window.get(), first);
    EXPECT_EQ (countAboutWindows(), 1);
    EXPECT_TRUE (window->isOnDesktop());
}

TEST_F (AboutWindowTest, ContentGoesWithTheWindow)
{
    const juce::Component::SafePointer<juce::Component> contentPointer (&content());
    window = nullptr;
    EXPECT_EQ (contentPointer.getComponent(), nullptr);
}

// The snapshot differs from the bare artwork only on the three text lines, each centred.
TEST_F (AboutWindowTest, DrawsTheNoticeLinesAndTheVersionCentred)
{
    const auto snapshot = content().createComponentSnapshot (content().getLocalBounds(), true, 1.0f);
    const auto artwork = juce::ImageCache::getFromMemory (BinaryData::Korvel_Quiln_AboutBackground_png,
                                                          BinaryData::Korvel_Quiln_AboutBackground_pngSize);
    ASSERT_EQ (str (snapshot.getBounds()), str (artwork.getBounds()));

    const juce::Image::BitmapData drawn (snapshot, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData bare (artwork, juce::Image::BitmapData::readOnly);

    const auto differs = [&] (int x, int y)
    {
        const auto a = drawn.getPixelColour (x, y), b = bare.getPixelColour (x, y);
        return std::abs (a.getRed() - b.getRed()) + std::abs (a.getGreen() - b.getGreen())
               + std::abs (a.getBlue() - b.getBlue()) > 24;
    };

    struct Line { const char* what; int top; };
    const Line lines[] { { "version", 179 }, { "first notice", 211 }, { "second notice", 227 } };

    for (const auto& line : lines)
    {
        int changed = 0, left = snapshot.getWidth(), right = -1;

        for (int y = line.top; y < line.top + 15; ++y)
            for (int x = 0; x < snapshot.getWidth(); ++x)
                if (differs (x, y))
                {
                    ++changed;
                    left = std::min (left, x);
                    right = std::max (right, x);
                }

        EXPECT_GT (changed, 150) << line.what << " line is drawn";
        EXPECT_GT (right - left, 60) << line.what << " line is a line of text";
        EXPECT_LE (std::abs (left - (snapshot.getWidth() - 1 - right)), 4) << line.what << " line is centred";
    }

    int strayPixels = 0;
    for (int y = 0; y < snapshot.getHeight(); ++y)
    {
        const auto onALine = std::any_of (std::begin (lines), std::end (lines),
                                          [y] (const Line& l) { return y >= l.top - 1 && y <= l.top + 15; });
        if (! onALine)
            for (int x = 0; x < snapshot.getWidth(); ++x)
                strayPixels += differs (x, y) ? 1 : 0;
    }

    EXPECT_EQ (strayPixels, 0) << "the artwork shows unscaled everywhere else";

    const auto dark = [&] (int x, int y) { return drawn.getPixelColour (x, y).getPerceivedBrightness() < 0.15f; };
    int darkPixels = 0;
    for (int y = 179; y < 242; ++y)
        for (int x = 0; x < snapshot.getWidth(); ++x)
            darkPixels += dark (x, y) ? 1 : 0;

    EXPECT_GT (darkPixels, 150) << "the text is black";
}
