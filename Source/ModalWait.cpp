#include "ModalWait.h"

#if JUCE_LINUX || JUCE_BSD
 #include <juce_events/native/juce_linux_EventLoopInternal.h>

 #include <poll.h>
 #include <vector>
#endif

namespace ModalWait
{
    bool runUntil (const std::function<bool()>& done)
    {
        auto& messageManager = *juce::MessageManager::getInstance();

        while (! done())
        {
            if (messageManager.hasStopMessageBeenSent())
                return false;

           #if JUCE_LINUX || JUCE_BSD
            // The framework's interface for hosts that run its event sources themselves.
            std::vector<pollfd> sources;

            for (const auto fd : juce::LinuxEventLoopInternal::getRegisteredFds())
                sources.push_back ({ fd, POLLIN, 0 });

            // The time-out catches a quit requested from another thread.
            if (::poll (sources.data(), sources.size(), 50) <= 0)
                continue;

            for (const auto& source : sources)
                if (source.revents != 0)
                    juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd (source.fd);
           #else
            if (! messageManager.runDispatchLoopUntil (20))
                return false;
           #endif
        }

        return true;
    }

    juce::ModalComponentManager::Callback* Answer::callback() const
    {
        return juce::ModalCallbackFunction::create ([state = result] (int value) { *state = value; });
    }

    int Answer::wait() const
    {
        runUntil ([this] { return result->has_value(); });
        return result->value_or (0);
    }
}
