#include <juce_gui_basics/juce_gui_basics.h>

// Placeholder application: starts and quits at once.
class KorvelQuillonApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override    { return "Korvel Quillon"; }
    const juce::String getApplicationVersion() override { return "1.1.6"; }
    bool moreThanOneInstanceAllowed() override          { return false; }
    void initialise (const juce::String&) override      { quit(); }
    void shutdown() override                            {}
};

START_JUCE_APPLICATION (KorvelQuillonApplication)
