#include "KorvelQuillonApplication.h"

// The program entry: the framework's runner creates the application through this factory, runs
// the message loop and deletes the application at the end.
juce::JUCEApplicationBase* juce_CreateApplication();

juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new KorvelQuillonApplication();
}

int main (int argc, char* argv[])
{
    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    return juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
}
