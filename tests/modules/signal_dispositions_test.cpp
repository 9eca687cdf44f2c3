// The handler object's dispositions: installed while it lives, the defaults
// again afterwards; SIGPIPE caught without ending the process; handlers that
// are given a signal they do not act on return at once.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <memory>

#include "modules/hx_module_signal_handler.h"

namespace {

using Handler = void (*)(int);

struct Disposition {
    int signal;
    Handler handler;
};

const Disposition kDispositions[] = {
    {SIGINT, &HxModuleSignalHandler::shutdown_handler},  {SIGTERM, &HxModuleSignalHandler::shutdown_handler},
    {SIGSEGV, &HxModuleSignalHandler::shutdown_handler}, {SIGTSTP, &HxModuleSignalHandler::pause_handler},
    {SIGCONT, &HxModuleSignalHandler::continue_handler}, {SIGPIPE, &HxModuleSignalHandler::sigpipe_handler},
};

Handler current(int signal)
{
    struct sigaction action {};
    ::sigaction(signal, nullptr, &action);
    return action.sa_handler;
}

TEST(SignalDispositions, InstalledWhileTheHandlerLivesAndDefaultAfterwards)
{
    {
        const auto handler = HxModuleSignalHandler::init(nullptr);
        for (const auto& d : kDispositions) {
            EXPECT_EQ(current(d.signal), d.handler) << "signal " << d.signal;
        }
    }
    for (const auto& d : kDispositions) {
        EXPECT_EQ(current(d.signal), SIG_DFL) << "signal " << d.signal;
    }
}

TEST(SignalDispositions, WriteToAClosedPipeFailsInsteadOfEndingTheProcess)
{
    const auto handler = HxModuleSignalHandler::init(nullptr);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    errno = 0;
    EXPECT_EQ(::write(ends[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(ends[1]);
}

TEST(SignalDispositions, HandlersIgnoreSignalsTheyDoNotActOn)
{
    const auto handler = HxModuleSignalHandler::init(nullptr);
    // Each returns at once: none ends the process or waits.
    HxModuleSignalHandler::shutdown_handler(SIGUSR1);
    HxModuleSignalHandler::shutdown_handler(SIGTSTP);
    HxModuleSignalHandler::pause_handler(SIGUSR1);
    HxModuleSignalHandler::pause_handler(SIGTSTP);  // no module bound
    HxModuleSignalHandler::continue_handler(SIGUSR1);
    HxModuleSignalHandler::continue_handler(SIGCONT);  // no module bound
    EXPECT_FALSE(HxModuleSignalHandler::shutting_down());
}

TEST(SignalDispositions, ContinueAfterStopIsSeenEvenBeforeThePauseBegins)
{
    HxModuleSignalHandler::mark_stop();
    HxModuleSignalHandler::mark_continue();  // arrives before the pause loop starts
    const long mark = HxModuleSignalHandler::take_stop_mark();
    EXPECT_TRUE(HxModuleSignalHandler::continued_since(mark));

    // Without a pending stop, the pause waits for a continue still to come.
    const long fresh = HxModuleSignalHandler::take_stop_mark();
    EXPECT_FALSE(HxModuleSignalHandler::continued_since(fresh));
    HxModuleSignalHandler::mark_continue();
    EXPECT_TRUE(HxModuleSignalHandler::continued_since(fresh));
}

}  // namespace
