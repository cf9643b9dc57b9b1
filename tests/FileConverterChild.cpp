// Runs one conversion under limits that a test process must not put on itself: a small maximum
// file size (a full disk), a small address space (a buffer that cannot be allocated) or a user
// without root's powers (an output that cannot be removed).
//
//   file_converter_child <input> <output> [--file-size BYTES] [--address-space BYTES] [--unprivileged]
//
// Prints "outcome: <returned | exception text>" and "reported one: <yes | no>".

#include "engine/FileConverter.h"

#include <atomic>
#include <csignal>
#include <iostream>

#include <sys/resource.h>
#include <unistd.h>

namespace
{
    struct Listener : FileConverter::ProgressListener
    {
        void progressChanged (double& fraction) override
        {
            if (fraction >= 1.0)
                reportedOne = true;
        }

        std::atomic<bool> reportedOne { false };
    };

    bool limit (int resource, rlim_t bytes)
    {
        const rlimit value { bytes, bytes };
        return setrlimit (resource, &value) == 0;
    }
}

int main (int argc, char** argv)
{
    if (argc < 3)
    {
        std::cerr << "usage: file_converter_child <input> <output> [--file-size BYTES] [--address-space BYTES] [--unprivileged]\n";
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI framework;
    juce::File input { juce::String (argv[1]) };
    juce::File output { juce::String (argv[2]) };

    // A write past the limit then fails with EFBIG instead of killing the process.
    std::signal (SIGXFSZ, SIG_IGN);

    for (int i = 3; i < argc; ++i)
    {
        const juce::String option (argv[i]);
        const auto value = i + 1 < argc ? (rlim_t) juce::String (argv[i + 1]).getLargeIntValue() : 0;
        bool ok = true;

        if (option == "--file-size")                      { ok = limit (RLIMIT_FSIZE, value); ++i; }
        else if (option == "--address-space")             { ok = limit (RLIMIT_AS, value); ++i; }
        else if (option == "--unprivileged" && geteuid() == 0) ok = setgid (65534) == 0 && setuid (65534) == 0;

        if (! ok)
        {
            std::cerr << "cannot apply " << option << "\n";
            return 2;
        }
    }

    Listener listener;
    FileConverter converter (&listener);
    juce::String outcome ("returned");

    try
    {
        converter.convertFile (input, output, 44100, 16);
    }
    catch (const std::exception& e)
    {
        outcome = e.what();
    }

    std::cout << "outcome: " << outcome << "\nreported one: " << (listener.reportedOne ? "yes" : "no") << std::endl;
    return 0;
}
