#include "ui/UserGuideOpener.h"

#if JUCE_LINUX
 #include <cerrno>
 #include <fcntl.h>
 #include <spawn.h>
 #include <sys/wait.h>
 #include <unistd.h>

 #include <string>

extern char** environ;
#endif

namespace
{
    constexpr int pollIntervalMs = 100;

   #if JUCE_LINUX
    /** How the opener is started: in a session of its own, as the framework's own opener does,
        so that the viewer it starts outlives the terminal the program was started from; with no
        input; and with none of the program's descriptors beyond stdout and stderr (the message
        queue's sockets, the single-instance lock). */
    struct OpenerSettings
    {
        OpenerSettings()
        {
            posix_spawnattr_init (&attributes);
            posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETSID);

            posix_spawn_file_actions_init (&actions);
            posix_spawn_file_actions_addopen (&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addclosefrom_np (&actions, STDERR_FILENO + 1);
        }

        ~OpenerSettings()
        {
            posix_spawn_file_actions_destroy (&actions);
            posix_spawnattr_destroy (&attributes);
        }

        posix_spawnattr_t attributes;
        posix_spawn_file_actions_t actions;

        JUCE_DECLARE_NON_COPYABLE (OpenerSettings)
    };

    /** Starts "xdg-open <guide>", found on the PATH and given the path as one argument (no shell
        sees it); the child's process id, or -1 when there is no opener to start. */
    pid_t startOpener (const juce::File& guide)
    {
        const OpenerSettings settings;
        std::string opener ("xdg-open");
        std::string path (guide.getFullPathName().toStdString());
        char* const arguments[] = { opener.data(), path.data(), nullptr };

        pid_t process = -1;

        if (posix_spawnp (&process, opener.c_str(), &settings.actions, &settings.attributes, arguments, environ) != 0)
            return -1;

        return process;
    }
   #endif
}

UserGuideOpener::~UserGuideOpener()
{
    stopTimer();
}

void UserGuideOpener::open (const juce::File& guide)
{
   #if JUCE_LINUX
    if (const auto process = startOpener (guide); process > 0)
    {
        openings.push_back ({ process, guide });
        startTimer (pollIntervalMs);
        return;
    }

    showFailure (guide);
   #else
    if (! guide.startAsProcess())
        showFailure (guide);
   #endif
}

void UserGuideOpener::showFailure (const juce::File& guide)
{
    juce::NativeMessageBox::showMessageBoxAsync (juce::MessageBoxIconType::NoIcon, "Korvel Quillon",
                                                 "Unable to open user guide.\nOpen this file with a PDF viewer:\n"
                                                     + guide.getFullPathName());
}

void UserGuideOpener::timerCallback()
{
   #if JUCE_LINUX
    std::vector<juce::File> failed;

    for (auto it = openings.begin(); it != openings.end();)
    {
        int status = 0;
        const auto result = waitpid (it->process, &status, WNOHANG);

        if (result == 0 || (result < 0 && errno == EINTR))
        {
            ++it;
            continue;
        }

        // Reaped now; or gone already (-1), of which nothing more can be known.
        if (result == it->process && ! (WIFEXITED (status) && WEXITSTATUS (status) == 0))
            failed.push_back (it->guide);

        it = openings.erase (it);
    }

    if (openings.empty())
        stopTimer();

    for (const auto& guide : failed)
        showFailure (guide);
   #endif
}
