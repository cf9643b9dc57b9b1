// Runs one conversion under limits that a test process must not put on itself: a small maximum
// file size (a full disk), a small address space (a buffer that cannot be allocated), a user
// without root's powers (an output that cannot be removed, an input that cannot be read) or a
// failing drive (every read of the input from the given byte on fails with EIO). A conversion
// that may never end runs here too, so that the test can stop it.
//
//   file_converter_child <input> <output> [--file-size BYTES] [--address-space BYTES] [--unprivileged]
//                        [--fail-reads-from BYTES]
//
// Prints "outcome: <returned | exception text>" and "reported one: <yes | no>".

#include "engine/FileConverter.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iostream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
    // The input whose reads fail, and from which byte on; no failures while `failFrom` is negative.
    dev_t failingDevice = 0;
    ino_t failingInode = 0;
    std::atomic<long long> failFrom { -1 };

    bool failsAt (int descriptor, long long offset, size_t count)
    {
        struct stat info {};
        return failFrom >= 0 && count > 0 && fstat (descriptor, &info) == 0
            && info.st_dev == failingDevice && info.st_ino == failingInode
            && offset + (long long) count > failFrom;
    }
}

// Every way this program's code reads a file passes here. Reads of the failing input that reach
// its failing part fail as a dying drive's do; all others go to the system.
extern "C" ssize_t read (int descriptor, void* buffer, size_t count)
{
    if (failsAt (descriptor, (long long) lseek (descriptor, 0, SEEK_CUR), count))
    {
        errno = EIO;
        return -1;
    }

    return (ssize_t) syscall (SYS_read, descriptor, buffer, count);
}

extern "C" ssize_t pread (int descriptor, void* buffer, size_t count, off_t offset)
{
    if (failsAt (descriptor, (long long) offset, count))
    {
        errno = EIO;
        return -1;
    }

    return (ssize_t) syscall (SYS_pread64, descriptor, buffer, count, offset);
}

extern "C" ssize_t pread64 (int descriptor, void* buffer, size_t count, off_t offset)
{
    return pread (descriptor, buffer, count, offset);
}

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
        std::cerr << "usage: file_converter_child <input> <output> [--file-size BYTES] [--address-space BYTES] [--unprivileged]"
                     " [--fail-reads-from BYTES]\n";
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
        else if (option == "--fail-reads-from")
        {
            struct stat info {};
            ok = stat (argv[1], &info) == 0;
            failingDevice = info.st_dev;
            failingInode = info.st_ino;
            failFrom = (long long) value;
            ++i;
        }

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
