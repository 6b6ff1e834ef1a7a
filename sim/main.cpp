#include "ptycardserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "tactilon-sim: %s\n", qPrintable(message));
    std::exit(2);
}

qint64 intOption(const QCommandLineParser &parser, const QString &name, qint64 lo, qint64 hi)
{
    bool ok = false;
    const qint64 v = parser.value(name).toLongLong(&ok, 0);
    if (!ok || v < lo || v > hi)
        fail(QStringLiteral("invalid value for --%1: \"%2\" (allowed %3..%4)")
                 .arg(name, parser.value(name)).arg(lo).arg(hi));
    return v;
}

QSet<quint8> codeList(const QString &text)
{
    QSet<quint8> codes;
    for (const QString &part : text.split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int code = part.trimmed().toInt(&ok, 0);
        if (!ok || code < 0 || code > 255)
            fail(QStringLiteral("invalid command code for --refuse: \"%1\"").arg(part));
        codes.insert(quint8(code));
    }
    return codes;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tactilon-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Simulated Tactilon driver card on a pseudo-terminal.\n"
        "Prints the serial port path to open (and the link path, when given) as its first\n"
        "lines, then serves the card until interrupted (SIGINT or SIGTERM).");
    parser.addHelpOption();
    parser.addOptions({
        {"sensors", "Number of sensors the card scans, 1..16 (default 6).", "n", "6"},
        {"link", "Keep a symlink at <path> pointing at the current port.", "path"},
        {"seed", "Seed of the simulated presses, noise and line faults (default 1).", "n", "1"},
        {"silent", "Never answer commands (the stream goes on)."},
        {"refuse", "Answer these command codes with status 1, e.g. 0x83,0x82 (0x84, 0x88 and 0x8C are left unanswered instead).", "codes"},
        {"delay", "Hold every answer back by <ms> milliseconds.", "ms", "0"},
        {"corrupt", "Corrupt this fraction of the bytes sent, 0..1 (e.g. 0.001).", "fraction", "0"},
        {"no-stream", "Send no sample frames."},
        {"no-press", "No presses: only noise around zero response (source data sits on the baseline)."},
        {"vanish-after", "Make the device disappear <ms> milliseconds after start.", "ms"},
        {"come-back-after", "Bring a vanished device back after <ms> milliseconds, on a new port.", "ms"},
        {"vanish-every", "Vanish again <ms> milliseconds after every return (with --vanish-after and --come-back-after).", "ms"},
        {"stamp-log", "Write a line to <file> for every time-stamped frame sent, and for every vanish and return.", "file"},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    PtyCardServer server(quint32(intOption(parser, "seed", 0, 0xFFFFFFFFLL)));
    SimCard &card = server.card();
    card.setStreamLogEnabled(false);
    card.setSensorCount(int(intOption(parser, "sensors", 1, SimCard::MaxSensors)));
    card.setSilent(parser.isSet("silent"));
    if (parser.isSet("refuse"))
        card.setRefusedCodes(codeList(parser.value("refuse")));
    card.setReplyDelayMs(int(intOption(parser, "delay", 0, 3600000)));
    {
        bool ok = false;
        const double fraction = parser.value("corrupt").toDouble(&ok);
        if (!ok || fraction < 0 || fraction > 1)
            fail(QStringLiteral("invalid value for --corrupt: \"%1\" (allowed 0..1)").arg(parser.value("corrupt")));
        card.setCorruption(fraction);
    }
    card.setStreaming(!parser.isSet("no-stream"));
    card.setPressing(!parser.isSet("no-press"));
    if (parser.isSet("vanish-after"))
        server.setVanishAfterMs(int(intOption(parser, "vanish-after", 0, 86400000)));
    if (parser.isSet("come-back-after"))
        server.setComeBackAfterMs(int(intOption(parser, "come-back-after", 0, 86400000)));
    if (parser.isSet("vanish-every"))
        server.setVanishEveryMs(int(intOption(parser, "vanish-every", 0, 86400000)));
    if (parser.isSet("stamp-log") && !server.setStampLog(parser.value("stamp-log")))
        fail(QStringLiteral("--stamp-log: cannot write \"%1\"").arg(parser.value("stamp-log")));
    if (parser.isSet("link") && !server.setLinkPath(parser.value("link")))
        fail(QStringLiteral("--link: \"%1\" exists and is not a symlink").arg(parser.value("link")));

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        fail("cannot create the signal pipe");
    QSocketNotifier quitNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&quitNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    if (!server.start()) {
        std::fprintf(stderr, "tactilon-sim: cannot open a pseudo-terminal%s\n",
                     server.linkPath().isEmpty() ? "" : " or create the link");
        return 1;
    }
    std::printf("%s\n", qPrintable(server.slavePath()));
    if (!server.linkPath().isEmpty())
        std::printf("%s\n", qPrintable(server.linkPath()));
    std::fflush(stdout);

    QObject::connect(&server, &PtyCardServer::vanished, [] {
        std::fprintf(stderr, "tactilon-sim: device vanished\n");
    });
    QObject::connect(&server, &PtyCardServer::reappeared, [](const QString &path) {
        std::fprintf(stderr, "tactilon-sim: device back at %s\n", qPrintable(path));
    });

    // The server's destructor removes the link once the loop ends.
    return app.exec();
}
