// Runs one conversion run in a process of its own, so that a test can kill it when it never ends
// and can run it as a user without root's powers.
//
//   converter_controller_child <output folder> [--unprivileged] [--quit-during <index>]
//                              <input path> <output name> [<input path> <output name>]...
//
// Queues the pairs as they are and prints each report on a line of its own ("started",
// "error <text>", "converted <name>", "exists <path>", "finished"; a line break inside a text as
// "\n"). With --quit-during it quits as the application does, abortConversion() and then the
// release of the controller, once the worker has taken the item of that index, and prints
// "quit <milliseconds>", the time the two took.

#include "engine/ConverterController.h"

#include <functional>
#include <iostream>

#include <unistd.h>

namespace
{
    struct Printer : ConverterController::Listener
    {
        void progressChanged (double) override {}
        void errorOccured (juce::String message) override  { print ("error " + message); }
        void FileConverted (juce::String name) override     { print ("converted " + name); }

        void progressStatusUpdate (ConverterController::StatusUpdate status) override
        {
            finished = status == ConverterController::conversionFinished;
            print (finished ? "finished" : "started");
        }

        // Nothing of the tests' should exist: set it aside rather than wait for ever.
        void fileExistsError (juce::String path) override
        {
            print ("exists " + path);
            controller->resume (ConverterController::skip);
        }

        static void print (const juce::String& line)
        {
            std::cout << line.replace ("\n", "\\n") << std::endl;
        }

        ConverterController* controller = nullptr;
        bool finished = false;
    };

    void pumpUntil (const std::function<bool()>& condition)
    {
        while (! condition())
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
}

int main (int argc, char** argv)
{
    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (argv[i]);

    const auto unprivileged = args.contains ("--unprivileged");
    args.removeString ("--unprivileged");
    int quitDuring = -1;

    if (const auto at = args.indexOf ("--quit-during"); at >= 0 && at + 1 < args.size())
    {
        quitDuring = args[at + 1].getIntValue();
        args.removeRange (at, 2);
    }

    if (args.size() < 3 || args.size() % 2 == 0)
    {
        std::cerr << "usage: converter_controller_child <output folder> [--unprivileged] [--quit-during <index>] "
                     "<input path> <output name>...\n";
        return 2;
    }

    if (unprivileged && geteuid() == 0 && ! (setgid (65534) == 0 && setuid (65534) == 0))
    {
        std::cerr << "cannot drop root's powers\n";
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI framework;

    const FileQueue::Ptr queue { new FileQueue() };

    for (int i = 1; i < args.size(); i += 2)
        queue->push ({ args[i], args[i + 1] });

    ConverterController::Ptr controller { new ConverterController (queue) };
    Printer printer;
    printer.controller = controller.get();
    controller->addListener (&printer);

    if (! controller->SetFolder (args[0]))
    {
        std::cerr << "no output folder " << args[0] << "\n";
        return 2;
    }

    const auto total = queue->size();
    controller->ConvertFilesInQueue();

    if (quitDuring < 0)
    {
        pumpUntil ([&] { return printer.finished; });
        return 0;
    }

    pumpUntil ([&] { return queue->size() < total - quitDuring; });

    const auto start = juce::Time::getMillisecondCounterHiRes();
    controller->abortConversion();
    controller = nullptr;
    Printer::print ("quit " + juce::String (juce::roundToInt (juce::Time::getMillisecondCounterHiRes() - start)));
    return 0;
}
