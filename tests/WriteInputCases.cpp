// Writes every damaged and unusual input of the test table into a folder, as <name><extension>:
// the seeds of a fuzzer, or samples to try by hand.
//
//   write_input_cases <folder>

#include "support/InputCases.h"

#include <iostream>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: write_input_cases <folder>\n";
        return 2;
    }

    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (argv[1])));

    if (! folder.createDirectory())
    {
        std::cerr << "cannot create " << folder.getFullPathName() << "\n";
        return 1;
    }

    for (const auto& c : quillon::test::makeInputCases())
    {
        const auto file = folder.getChildFile (c.name + c.extension);

        if (! (c.bytes.isEmpty() ? file.deleteFile() && file.create().wasOk()
                                 : file.replaceWithData (c.bytes.getData(), c.bytes.getSize())))
        {
            std::cerr << "cannot write " << file.getFullPathName() << "\n";
            return 1;
        }
    }

    return 0;
}
