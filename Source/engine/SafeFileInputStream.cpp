#include "engine/SafeFileInputStream.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    bool isRegularFile (const struct stat& info) { return S_ISREG (info.st_mode); }
}

SafeFileInputStream::SafeFileInputStream (const juce::File& file, ReadControl& readControl)
    : control (readControl)
{
    const auto path = file.getFullPathName().toRawUTF8();
    struct stat info {};

    // Checked before opening too: opening some devices has effects of its own.
    if (::stat (path, &info) != 0 || ! isRegularFile (info))
        return;

    const auto opened = ::open (path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);

    if (opened < 0)
        return;

    if (::fstat (opened, &info) != 0 || ! isRegularFile (info))
    {
        ::close (opened);
        return;
    }

    descriptor = opened;
    length = (juce::int64) info.st_size;
}

SafeFileInputStream::SafeFileInputStream (int openDescriptor, juce::int64 fileLength, ReadControl& readControl)
    : descriptor (openDescriptor), length (fileLength), control (readControl)
{
}

SafeFileInputStream::~SafeFileInputStream()
{
    if (descriptor >= 0)
        ::close (descriptor);
}

std::unique_ptr<SafeFileInputStream> SafeFileInputStream::duplicate() const
{
    if (descriptor < 0)
        return {};

    const auto copy = ::fcntl (descriptor, F_DUPFD_CLOEXEC, 0);

    if (copy < 0)
        return {};

    return std::unique_ptr<SafeFileInputStream> (new SafeFileInputStream (copy, length, control));
}

juce::int64 SafeFileInputStream::getTotalLength()
{
    return length;
}

bool SafeFileInputStream::isExhausted()
{
    return ended || descriptor < 0 || control.stop || position >= length;
}

int SafeFileInputStream::read (void* destination, int maxBytes)
{
    if (maxBytes <= 0 || isExhausted())
        return 0;

    auto* const bytes = static_cast<char*> (destination);
    const auto wanted = (size_t) juce::jmin ((juce::int64) maxBytes, length - position);
    size_t done = 0;

    while (done < wanted && ! control.stop)
    {
        const auto result = ::pread (descriptor, bytes + done, wanted - done, (off_t) (position + (juce::int64) done));

        if (result > 0)
        {
            done += (size_t) result;
        }
        else if (! (result < 0 && errno == EINTR))
        {
            // A read error, or the file is shorter than when it was opened.
            ended = true;
            control.failed = true;
            break;
        }
    }

    position += (juce::int64) done;
    return (int) done;
}

juce::int64 SafeFileInputStream::getPosition()
{
    return position;
}

bool SafeFileInputStream::setPosition (juce::int64 newPosition)
{
    position = juce::jmax ((juce::int64) 0, newPosition);
    return position == newPosition;
}
