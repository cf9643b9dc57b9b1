#include "ui/MainWindow.h"

#include <utility>

MainWindow::MainWindow (MainWindowComponent::Ptr windowContent,
                        ConverterController::Ptr converterController,
                        juce::ApplicationCommandManager* commands,
                        juce::MenuBarModel* menuModel)
    : juce::DocumentWindow ("Korvel Quillon",
                            juce::Colour::greyLevel (0.6f),
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton,
                            false),
      commandManager (commands),
      content (std::move (windowContent)),
      controller (std::move (converterController))
{
    addKeyListener (commandManager->getKeyMappings());
    setUsingNativeTitleBar (true);

    if (menuModel != nullptr)
        setMenuBar (menuModel);

    setContentOwned (content.get(), false);
    addToDesktop();

    // The content always gets 420 x 720; the window adds whatever border it has (the menu bar).
    const auto border = getContentComponentBorder();
    centreWithSize (contentWidth + border.getLeftAndRight(), contentHeight + border.getTopAndBottom());

    setVisible (true);
    setLookAndFeel (&look);
}

MainWindow::~MainWindow()
{
    controller->abortConversion();
    removeKeyListener (commandManager->getKeyMappings());

    // The look goes first among the fields; nothing may draw through it after that.
    setLookAndFeel (nullptr);

    // The content belongs to its reference-counted pointer alone from here on: released below,
    // it removes itself from the window, and the framework window's teardown must not delete it
    // a second time (nor delete it while another reference still holds it).
    setContentNonOwned (content.get(), false);
}

void MainWindow::closeButtonPressed()
{
    // The application decides whether and when to quit; the window itself stays.
    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}
