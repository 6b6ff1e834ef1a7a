#include "recorder.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only a byte into the pipe: the event loop does the rest outside the handler.
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    // The link's diagnostic lines are for developers; TACTILON_DEBUG=1 shows them.
    if (qEnvironmentVariable("TACTILON_DEBUG") != "1")
        qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tactilon-record");

    RecorderOptions options;
    QString out, err;
    const int parsed = parseRecorderArguments(app.arguments().mid(1), options, out, err);
    if (!out.isEmpty())
        std::fputs(qPrintable(out), stdout);
    if (!err.isEmpty())
        std::fputs(qPrintable(err), stderr);
    if (parsed >= 0)
        return parsed;

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        std::fputs("tactilon-record: cannot create the signal pipe\n", stderr);
        return PortFailed;
    }
    // A slow line can be given more time for the card's answer to the stop after Ctrl-C.
    if (qEnvironmentVariableIsSet("TACTILON_RECORD_STOP_WAIT_MS"))
        options.stopAnswerMs = qEnvironmentVariableIntValue("TACTILON_RECORD_STOP_WAIT_MS");
    Recorder recorder(options, stderr, ::isatty(STDERR_FILENO) == 1);
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &recorder, [&recorder] {
        char buf[16];
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], buf, sizeof buf);
        recorder.requestStop();
    });
    // A pipe whose reader has gone is a failed write, reported and ended like a full disk.
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    return recorder.run();
}
