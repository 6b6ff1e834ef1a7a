// Random input soak: the tool on the simulated card, driven for a while by random but valid user
// input from a seeded generator: clicks, ticks, combo-box choices, typing in fields and cells,
// focus changes, resizing, closing and reopening the tool windows, opening and closing the link,
// answers to every message box and menu. At the end the main window is closed with a field left
// unfinished. Fails on a crash, a sanitizer report or a hang; prints the seed at the start and
// on any failure, so a run can be replayed (the card's timing still varies between runs).
//   tst_monkey [seconds] [seed]    or TACTILON_MONKEY_SECONDS, TACTILON_MONKEY_SEED; 60 s and a
//                                   seed from the clock by default. TACTILON_MONKEY_WITHOUT=a,b
//                                   leaves out kinds of input (names in Monkey::actions).
#include "calibration.h"
#include "cardthread.h"
#include "curvegraphic.h"
#include "demarcate.h"
#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "mycurvegraphic.h"
#include "myserialport.h"
#include "recordwindow.h"
#include "replaywindow.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMutex>
#include <QOpenGLWidget>
#include <QScreen>
#include <QStandardPaths>
#include <QTabBar>
#include <QTest>
#include <QWheelEvent>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>
#include <unistd.h>

#ifdef TACTILON_SANITIZE
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// The GUI thread did not turn at all; TACTILON_MONKEY_HANG_SECONDS widens it for slow
// diagnostic runs (a sanitizer unwinding every allocation, say).
const qint64 HangMs = 1000 * qint64(qEnvironmentVariableIntValue("TACTILON_MONKEY_HANG_SECONDS") > 0
                                        ? qEnvironmentVariableIntValue("TACTILON_MONKEY_HANG_SECONDS")
                                        : 30);
const qint64 StarvedMs = 3 * HangMs; // it turned, but no input could be given (a loop never ends)

std::uint32_t g_seed = 0;
char g_seedLine[64];

std::int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The last actions, for a failure report from any thread.
struct Trail
{
    QMutex mutex;
    QStringList lines;
    void add(const QString &line)
    {
        QMutexLocker lock(&mutex);
        lines.append(line);
        if (lines.size() > 25)
            lines.removeFirst();
    }
    void print()
    {
        // Also called from a crash: a trail held by the crashing thread is left out.
        if (!mutex.tryLock(1000))
            return;
        std::fprintf(stderr, "monkey: last actions:\n");
        for (const QString &l : lines)
            std::fprintf(stderr, "  %s\n", qPrintable(l));
        mutex.unlock();
    }
};
// Never destroyed: a sanitizer's report at exit still prints it.
Trail &g_trail = *new Trail;

void printSeed()
{
    (void)!write(2, g_seedLine, strlen(g_seedLine));
}

void onCrash()
{
    g_trail.print();
    printSeed();
}

#ifndef TACTILON_SANITIZE
void onFatalSignal(int sig)
{
    onCrash();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}
#endif

// Beats on the GUI thread; aborts the process when the beats stop (a hang bound, nothing timed).
class Watchdog
{
public:
    std::atomic<std::int64_t> lastBeat{nowMs()};
    std::atomic<std::int64_t> lastAction{nowMs()};
    std::atomic<bool> stop{false};
    std::thread thread;

    void start()
    {
        thread = std::thread([this] {
            while (!stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                const std::int64_t t = nowMs();
                const char *what = nullptr;
                if (t - lastBeat > HangMs)
                    what = "the GUI thread is stuck";
                else if (t - lastAction > StarvedMs)
                    what = "no input could be given (a local event loop never ends?)";
                if (what) {
                    std::fprintf(stderr, "monkey: HANG: %s\n", what);
                    g_trail.print();
                    printSeed();
                    std::abort();
                }
            }
        });
    }
    ~Watchdog()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
};

struct Figures
{
    long actions = 0, skippedBlocked = 0, windowsShown = 0, windowsClosed = 0, linkOpens = 0,
         cardVanishes = 0, fileDialogs = 0, intDialogs = 0;
};

class Monkey : public QObject
{
public:
    Monkey(std::mt19937 &rng, MainWindow *window, CardThread &card, ModalDialogHelper &dialogs, const QString &dir)
        : rng(rng), window(window), card(card), dialogs(dialogs), dir(dir)
    {
        toolWindows = {window->graphWindow(), window->demarcateWindow(), window->calibrationWindow(),
                       window->recordingWindow(), window->replayingWindow()};
        for (QWidget *w : toolWindows)
            w->installEventFilter(this);
        replaceFileDialogs();
    }

    int below(int n) { return n <= 0 ? 0 : int(std::uniform_int_distribution<int>(0, n - 1)(rng)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T>
    T *pick(const QList<T *> &list) { return list.isEmpty() ? nullptr : list.at(below(int(list.size()))); }

    // Runs until `seconds` have passed; each action schedules the next before it runs, so input
    // goes on while an action waits in a local event loop (as a user clicks on while a
    // window-modal progress runs elsewhere).
    void run(int seconds, QEventLoop &loop)
    {
        clock.start();
        endMs = qint64(seconds) * 1000;
        doneLoop = &loop;
        scheduleNext();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->isWindow())
            ++figures.windowsShown;
        else if (event->type() == QEvent::Hide && watched->isWidgetType()
                 && static_cast<QWidget *>(watched)->isWindow())
            ++figures.windowsClosed;
        return false;
    }

    std::mt19937 &rng;
    MainWindow *window;
    CardThread &card;
    ModalDialogHelper &dialogs;
    QString dir;
    QList<QWidget *> toolWindows;
    Figures figures;
    Watchdog *watchdog = nullptr;
    bool cardGone = false;

private:
    void scheduleNext()
    {
        QTimer::singleShot(below(4) == 0 ? 0 : 5 + below(120), this, [this] { step(); });
    }

    void step()
    {
        if (watchdog)
            watchdog->lastAction = nowMs();
        if (clock.elapsed() >= endMs) {
            doneLoop->quit(); // takes effect once the local loops on the stack have ended
            return;
        }
        scheduleNext();
        if (cardGone && clock.elapsed() >= cardBackAtMs) {
            log("card comes back");
            card.run([&] { cardGone = !card.server->reappear(); });
            cardBackAtMs = clock.elapsed() + 1000;
        }
        if (bringingUp)
            return;
        // An application-modal box blocks every window; the helper answers it. Deep nesting of
        // local loops is left to unwind first.
        QWidget *modal = QApplication::activeModalWidget();
        if ((modal && modal->windowModality() == Qt::ApplicationModal) || QApplication::activePopupWidget()
            || depth >= 3) {
            ++figures.skippedBlocked;
            return;
        }
        ++depth;
        act();
        --depth;
        const bool open = window->deviceLink() && window->deviceLink()->isPortOpen();
        if (open && !wasOpen)
            ++figures.linkOpens;
        wasOpen = open;
    }

    void log(const QString &what)
    {
        ++figures.actions;
        g_trail.add(QString("%1 ms: %2").arg(clock.elapsed()).arg(what));
    }

    static QString nameOf(QWidget *w)
    {
        QString n = w->objectName();
        if (n.isEmpty())
            n = w->metaObject()->className();
        return n + " in " + (w->window()->windowTitle().isEmpty() ? w->window()->objectName() : w->window()->windowTitle());
    }

    // Windows the user can reach now: shown, and not behind a window-modal dialog.
    QList<QWidget *> reachableWindows()
    {
        QWidget *modal = QApplication::activeModalWidget();
        QWidget *blocked = modal && modal->parentWidget() ? modal->parentWidget()->window() : nullptr;
        QList<QWidget *> out;
        if (!window->isHidden() && window != blocked)
            out.append(window);
        for (QWidget *w : toolWindows)
            if (!w->isHidden() && w != blocked)
                out.append(w);
        return out;
    }

    template <typename T>
    QList<T *> reachable(bool (*keep)(T *) = nullptr)
    {
        QList<T *> out;
        for (QWidget *w : reachableWindows())
            for (T *c : w->findChildren<T *>())
                if (c->isVisible() && c->isEnabled() && (!keep || keep(c)))
                    out.append(c);
        return out;
    }

    // Without a window manager only the program activates windows; a user's click does it.
    // The wait runs the event loop: false when the widget went meanwhile (an item editor, say).
    bool bringUp(const QPointer<QWidget> &w)
    {
        QWidget *top = w->window();
        if (QApplication::activeWindow() != top) {
            top->raise();
            top->activateWindow();
            // No other input meanwhile: a user does one thing at a time, and a context menu
            // opened inside this wait could be closed before its own loop began, never to end.
            const bool outer = bringingUp;
            bringingUp = true;
            (void)QTest::qWaitForWindowActive(top, 300);
            bringingUp = outer;
        }
        return w && w->isVisible();
    }

    QString randomText()
    {
        switch (below(9)) {
        case 0: return QString::number(below(17));
        case 1: return QString::number(below(80001) - 40000);
        case 2: return QString::number(below(65) - 32);
        case 3: return QString();
        case 4: return QStringLiteral("abc");
        case 5: return QStringLiteral("-");
        case 6: return QString(60 + below(200), QChar('9'));
        case 7: return QStringLiteral(" 1%1 ").arg(below(10));
        default: {
            QString s;
            for (int i = below(8); i >= 0; --i)
                s += QChar(0x20 + below(95));
            return s;
        }
        }
    }

    void finishTyping(QWidget *w)
    {
        switch (below(5)) {
        case 0: case 1: QTest::keyClick(w, Qt::Key_Return); break;
        case 2: QTest::keyClick(w, Qt::Key_Tab); break;
        case 3: QTest::keyClick(w, Qt::Key_Escape); break;
        default: break; // left unfinished
        }
    }

    struct Action
    {
        int weight; // per mille
        const char *name;
        void (Monkey::*run)();
    };
    static const std::vector<Action> &actions()
    {
        static const std::vector<Action> list{
            {280, "click", &Monkey::clickButton},      {100, "combo", &Monkey::chooseInCombo},
            {120, "type", &Monkey::typeInField},       {100, "cell-click", &Monkey::clickCell},
            {60, "cell-edit", &Monkey::editCell},      {40, "tick", &Monkey::tickListRow},
            {30, "tab", &Monkey::clickTab},            {40, "focus", &Monkey::changeFocus},
            {30, "resize", &Monkey::resizeWindow},     {30, "close", &Monkey::closeToolWindow},
            {60, "plot", &Monkey::handlePlot},         {30, "gl", &Monkey::handleGlView},
            {10, "menu", &Monkey::openFileMenu},       {2, "unplug", &Monkey::unplugCard},
            {68, "anywhere", &Monkey::clickAnywhere}};
        return list;
    }

    void act()
    {
        int r = below(1000);
        for (const Action &a : actions()) {
            if ((r -= a.weight) >= 0)
                continue;
            // A known fault can be stepped around to look for others: TACTILON_MONKEY_WITHOUT.
            if (!without.contains(QLatin1String(a.name)))
                (this->*a.run)();
            return;
        }
    }

public:
    QStringList without;

private:
    static bool notPortList(QComboBox *c) { return c->objectName() != "SerialPortSelect"; }
    static bool plainButton(QAbstractButton *b)
    {
        // Buttons of a tab bar or a combo box's arrow belong to those widgets.
        return !qobject_cast<QTabBar *>(b->parentWidget());
    }

    void clickButton()
    {
        QList<QAbstractButton *> buttons = reachable<QAbstractButton>(plainButton);
        // The panel buttons are where a user spends most clicks: give them more.
        for (const char *name : {"btnSerialOpen", "btnGraphic", "actDemarcate", "btnCalibration", "pushRecord"})
            if (auto *b = window->findChild<QAbstractButton *>(name); b && b->isEnabled() && b->isVisible())
                buttons << b;
        QAbstractButton *b = pick(buttons);
        if (!b)
            return;
        log("click " + nameOf(b));
        if (bringUp(b))
            QTest::mouseClick(b, Qt::LeftButton);
    }

    void chooseInCombo()
    {
        QComboBox *c = pick(reachable<QComboBox>(notPortList));
        if (!c || !bringUp(c))
            return;
        if (chance(30)) {
            log("open the list of " + nameOf(c)); // the helper picks a row
            QTest::mouseClick(c, Qt::LeftButton);
            return;
        }
        static const Qt::Key keys[] = {Qt::Key_Down, Qt::Key_Up, Qt::Key_Home, Qt::Key_End, Qt::Key_PageDown};
        const Qt::Key key = keys[below(5)];
        log(QString("key %1 on %2").arg(int(key), 0, 16).arg(nameOf(c)));
        c->setFocus(Qt::TabFocusReason);
        QTest::keyClick(c, key);
    }

    static bool writable(QLineEdit *e) { return !e->isReadOnly(); }

    void typeInField()
    {
        QLineEdit *e = pick(reachable<QLineEdit>(writable));
        if (!e || qobject_cast<QComboBox *>(e->parentWidget()))
            return;
        const QString text = randomText();
        log(QString("type \"%1\" into %2").arg(text.left(20), nameOf(e)));
        // A table's editor may go with any event: every step looks again.
        QPointer<QLineEdit> edit(e);
        if (!bringUp(e))
            return;
        QTest::mouseClick(edit, Qt::LeftButton);
        if (!edit)
            return;
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        if (edit)
            QTest::keyClicks(edit, text);
        if (edit)
            finishTyping(edit);
    }

    static bool hasRows(QAbstractItemView *v) { return v->model() && v->model()->rowCount() > 0 && v->model()->columnCount() > 0; }

    QModelIndex randomIndex(QAbstractItemView *v)
    {
        const QModelIndex i = v->model()->index(below(v->model()->rowCount()), below(v->model()->columnCount()));
        v->scrollTo(i);
        return i;
    }

    void clickCell()
    {
        QAbstractItemView *v = pick(reachable<QAbstractItemView>(hasRows));
        if (!v)
            return;
        const QPersistentModelIndex i = randomIndex(v);
        log(QString("click cell %1,%2 of %3").arg(i.row()).arg(i.column()).arg(nameOf(v)));
        if (!bringUp(v) || !i.isValid())
            return;
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, v->visualRect(i).center());
    }

    void editCell()
    {
        QAbstractItemView *v = pick(reachable<QAbstractItemView>(hasRows));
        if (!v)
            return;
        const QPersistentModelIndex i = randomIndex(v);
        const QString text = randomText();
        log(QString("edit cell %1,%2 of %3: \"%4\"").arg(i.row()).arg(i.column()).arg(nameOf(v), text.left(20)));
        QPointer<QAbstractItemView> view(v);
        if (!bringUp(v) || !i.isValid())
            return;
        const QPoint at = v->visualRect(i).center();
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, at);
        if (!view)
            return;
        QTest::mouseDClick(v->viewport(), Qt::LeftButton, {}, at);
        if (!view)
            return;
        QPointer<QLineEdit> editor;
        for (QLineEdit *e : v->viewport()->findChildren<QLineEdit *>())
            if (e->isVisible())
                editor = e;
        if (!editor)
            return;
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        if (editor)
            QTest::keyClicks(editor, text);
        if (editor)
            finishTyping(editor);
    }

    static bool checkList(QListWidget *l) { return l->count() > 0; }

    void tickListRow()
    {
        QListWidget *l = pick(reachable<QListWidget>(checkList));
        if (!l)
            return;
        const int row = below(l->count());
        log(QString("tick row %1 of %2").arg(row).arg(nameOf(l)));
        if (!bringUp(l) || row >= l->count())
            return;
        l->scrollToItem(l->item(row));
        clickCheckBox(l, row);
    }

    void clickTab()
    {
        QTabBar *t = pick(reachable<QTabBar>());
        if (!t || t->count() == 0)
            return;
        const int tab = below(t->count());
        log(QString("tab %1 of %2").arg(tab).arg(nameOf(t)));
        if (!bringUp(t))
            return;
        QTest::mouseClick(t, Qt::LeftButton, {}, t->tabRect(tab).center());
    }

    void changeFocus()
    {
        QList<QWidget *> windows = reachableWindows();
        if (windows.isEmpty())
            return;
        if (chance(40)) {
            QWidget *w = pick(windows);
            log("activate " + nameOf(w));
            bringUp(w);
            return;
        }
        QWidget *focus = QApplication::focusWidget();
        if (!focus)
            return;
        const bool back = chance(30);
        log(QString(back ? "shift+tab from " : "tab from ") + nameOf(focus));
        QTest::keyClick(focus, back ? Qt::Key_Backtab : Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
    }

    void resizeWindow()
    {
        QWidget *w = pick(reachableWindows());
        if (!w)
            return;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QSize size(100 + below(screen.width() - 100), 80 + below(screen.height() - 80));
        log(QString("resize %1 to %2x%3").arg(nameOf(w)).arg(size.width()).arg(size.height()));
        w->resize(size);
    }

    void closeToolWindow()
    {
        QList<QWidget *> shown;
        for (QWidget *w : reachableWindows())
            if (w != window)
                shown.append(w);
        QWidget *w = pick(shown);
        if (!w)
            return;
        log("close " + nameOf(w));
        w->close();
    }

    void handlePlot()
    {
        CurveGraphic *graph = window->graphWindow();
        if (!graph || !reachableWindows().contains(graph))
            return;
        QWidget *plot = graph->plot();
        if (!plot->isVisible())
            return;
        const QPoint at(below(plot->width()), below(plot->height()));
        if (!bringUp(plot))
            return;
        switch (below(4)) {
        case 0: {
            log(QString("wheel on the plot at %1,%2").arg(at.x()).arg(at.y()));
            QWheelEvent wheel(at, plot->mapToGlobal(at), {}, {0, (below(2) ? 120 : -120) * (1 + below(3))},
                              Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(plot, &wheel);
            break;
        }
        case 1: {
            const QPoint to(below(plot->width()), below(plot->height()));
            log(QString("drag on the plot %1,%2 to %3,%4").arg(at.x()).arg(at.y()).arg(to.x()).arg(to.y()));
            QTest::mousePress(plot, Qt::LeftButton, {}, at);
            QTest::mouseMove(plot, to);
            QTest::mouseRelease(plot, Qt::LeftButton, {}, to);
            break;
        }
        case 2: {
            log("context menu on the plot"); // the helper picks an action, the dialogs answer
            QTest::mouseClick(plot, Qt::RightButton, {}, at);
            QContextMenuEvent menu(QContextMenuEvent::Mouse, at, plot->mapToGlobal(at));
            QApplication::sendEvent(plot, &menu);
            break;
        }
        default:
            log(QString("double click on the plot at %1,%2").arg(at.x()).arg(at.y()));
            QTest::mouseDClick(plot, Qt::LeftButton, {}, at);
            break;
        }
    }

    void handleGlView()
    {
        QOpenGLWidget *v = pick(reachable<QOpenGLWidget>());
        if (!v)
            return;
        const QPoint at(below(v->width()), below(v->height())), to(below(v->width()), below(v->height()));
        log("drag and wheel on " + nameOf(v));
        QTest::mousePress(v, Qt::LeftButton, {}, at);
        QTest::mouseMove(v, to);
        QTest::mouseRelease(v, Qt::LeftButton, {}, to);
        QWheelEvent wheel(to, v->mapToGlobal(to), {}, {0, below(2) ? 120 : -120}, Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(v, &wheel);
    }

    void openFileMenu()
    {
        if (!reachableWindows().contains(window))
            return;
        QMenuBar *bar = window->menuBar();
        if (bar->actions().isEmpty())
            return;
        log("open the file menu"); // the helper picks an item or leaves it
        if (!bringUp(bar))
            return;
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(bar->actions().first()).center());
    }

    // The card is unplugged, and plugged back in a few seconds later: the one input not given
    // through the windows.
    void unplugCard()
    {
        if (cardGone)
            return;
        log("card vanishes");
        card.run([&] { card.server->vanish(); });
        cardGone = true;
        cardBackAtMs = clock.elapsed() + 500 + below(4000);
        ++figures.cardVanishes;
    }

    void clickAnywhere()
    {
        QWidget *w = pick(reachable<QWidget>());
        if (!w || w->width() <= 0 || w->height() <= 0)
            return;
        const QPoint at(below(w->width()), below(w->height()));
        log(QString("click %1 at %2,%3").arg(nameOf(w)).arg(at.x()).arg(at.y()));
        if (bringUp(w))
            QTest::mouseClick(w, Qt::LeftButton, {}, at);
    }

    // Save dialogs give one of a few files in the run's folder, an unwritable path or a cancel;
    // the open dialog one of those files, a file that is not a recording, or a cancel.
    QString saveAnswer()
    {
        ++figures.fileDialogs;
        switch (below(5)) {
        case 0: return QString();
        case 1: return "/nonexistent-folder/out.csv";
        default: return dir + QString("/export%1.csv").arg(below(3));
        }
    }

    void replaceFileDialogs()
    {
        auto save = [this](QWidget *, const QString &, const QString &, const QString &) { return saveAnswer(); };
        window->recordingWindow()->saveFileDialog = save;
        window->demarcateWindow()->saveFileName = save;
        QFile junk(dir + "/junk.csv");
        if (junk.open(QIODevice::WriteOnly))
            junk.write("not,a\nrecording\n\xff\xfe");
        window->replayingWindow()->openFileDialog = [this](QWidget *, const QString &, const QString &, const QString &) {
            ++figures.fileDialogs;
            switch (below(4)) {
            case 0: return QString();
            case 1: return dir + "/junk.csv";
            default: return dir + QString("/export%1.csv").arg(below(3));
            }
        };
        window->graphWindow()->setIntDialog(
            [this](QWidget *, const QString &, const QString &, int, int min, int max, int, int *result) {
                ++figures.intDialogs;
                *result = min + below(max - min + 1);
                return chance(75);
            });
    }

    QElapsedTimer clock;
    qint64 endMs = 0;
    QEventLoop *doneLoop = nullptr;
    int depth = 0;
    bool bringingUp = false;
    bool wasOpen = false;
    qint64 cardBackAtMs = 0;
};

// Closes the main window with a field left unfinished; a refused close (a question answered
// No, an acquisition still ending) is tried again, at last with Yes as the answer.
bool closeWithUnfinishedInput(Monkey &monkey, std::mt19937 &rng)
{
    MainWindow *window = monkey.window;
    QList<QLineEdit *> fields;
    for (QWidget *w : QList<QWidget *>{window} + monkey.toolWindows)
        if (!w->isHidden())
            for (QLineEdit *e : w->findChildren<QLineEdit *>())
                if (e->isVisible() && e->isEnabled() && !e->isReadOnly() && !qobject_cast<QComboBox *>(e->parentWidget()))
                    fields.append(e);
    if (!fields.isEmpty()) {
        QLineEdit *e = fields.at(std::uniform_int_distribution<int>(0, int(fields.size()) - 1)(rng));
        e->window()->activateWindow();
        (void)QTest::qWaitForWindowActive(e->window(), 1000);
        const QString text = std::uniform_int_distribution<int>(0, 1)(rng) ? "8" : "abc";
        std::printf("monkey: closing with \"%s\" unfinished in %s\n", qPrintable(text), qPrintable(e->objectName()));
        typeInto(e, text, false);
    }
    for (int attempt = 0; attempt < 40 && window->isVisible(); ++attempt) {
        if (attempt >= 2)
            monkey.dialogs.answerNext(QMessageBox::Yes);
        window->close();
        (void)QTest::qWaitFor([&] { return !window->isVisible(); }, 1000);
    }
    return !window->isVisible();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    bool ok = false;
    int seconds = qEnvironmentVariableIntValue("TACTILON_MONKEY_SECONDS", &ok);
    if (argc > 1)
        seconds = std::atoi(argv[1]);
    else if (!ok)
        seconds = 60;
    g_seed = argc > 2 ? std::uint32_t(std::strtoul(argv[2], nullptr, 10))
             : qEnvironmentVariableIsSet("TACTILON_MONKEY_SEED")
                 ? std::uint32_t(qEnvironmentVariable("TACTILON_MONKEY_SEED").toULong())
                 : std::uint32_t(std::random_device{}());
    std::snprintf(g_seedLine, sizeof g_seedLine, "monkey: seed %u (TACTILON_MONKEY_SEED=%u)\n", g_seed, g_seed);
    printSeed();
    std::printf("monkey: %d s\n", seconds);
    std::fflush(stdout);
#ifdef TACTILON_SANITIZE
    __sanitizer_set_death_callback(onCrash);
#else
    for (int sig : {SIGSEGV, SIGABRT, SIGFPE, SIGBUS, SIGILL})
        std::signal(sig, onFatalSignal);
#endif
    std::mt19937 rng(g_seed);

    QStandardPaths::setTestModeEnabled(true);
    TemporaryWorkingFolder dir; // the windows keep their INI files here
    const QString link = dir.filePath("tactilon-card");
    CardThread card(g_seed, [&](PtyCardServer &server) {
        server.card().setSensorCount(6);
        server.card().setStreamLogEnabled(false);
        server.setLinkPath(link);
    });
    if (!card.started) {
        std::printf("monkey: FAIL: no pseudo-terminal for the card\n");
        return 1;
    }
    qputenv("TACTILON_EXTRA_PORTS", link.toLocal8Bit());

    Watchdog watchdog;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { watchdog.lastBeat = nowMs(); });
    beat.start(100);
    watchdog.start();

    ModalDialogHelper dialogs;
    dialogs.answerAtRandom(&rng);
    auto *window = new MainWindow;
    window->setWindowTitle("Tactilon");
    window->show();
    std::atomic<long> frames{0};
    QObject::connect(window->deviceLink(), qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive),
                     [&frames](QList<Axit_t> &, uint) { ++frames; });
    QObject::connect(window->deviceLink(), qOverload<QList<Axit_t> &, uint, uint>(&SlaveProtocol::AxitReceive),
                     [&frames](QList<Axit_t> &, uint, uint) { ++frames; });

    Monkey monkey(rng, window, card, dialogs, dir.path());
    monkey.watchdog = &watchdog;
    monkey.without = qEnvironmentVariable("TACTILON_MONKEY_WITHOUT").split(',', Qt::SkipEmptyParts);
    if (!monkey.without.isEmpty())
        std::printf("monkey: without %s\n", qPrintable(monkey.without.join(',')));
    QEventLoop loop;
    monkey.run(seconds, loop);
    loop.exec();

    const double graphFrames = window->graphWindow()->sampleCount();
    const bool closed = closeWithUnfinishedInput(monkey, rng);
    watchdog.lastAction = nowMs();
    if (!closed) {
        std::printf("monkey: FAIL: the main window did not close\n");
        g_trail.print();
        printSeed();
        return 1;
    }
    delete window;
    QTest::qWait(50); // whatever the windows queued on their way out runs now

    const Figures &f = monkey.figures;
    QMap<QString, int> kinds;
    int unexpected = 0;
    for (const DialogRecord &r : dialogs.records()) {
        ++kinds[r.kind];
        if (r.kind != "information" && r.kind != "warning" && r.kind != "critical" && r.kind != "question"
            && r.kind != "progress")
            ++unexpected;
    }
    QStringList kindText;
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it)
        kindText << QString("%1 %2").arg(it.value()).arg(it.key());
    std::printf("monkey: %ld actions (%ld waits behind a modal box), tool windows shown %ld / closed %ld, "
                "link opens %ld, card unplugged %ld, dialogs %d (%s), menus and lists %d, file dialogs %ld, "
                "number dialogs %ld, frames received %ld (graph window %.0f)\n",
                f.actions, f.skippedBlocked, f.windowsShown, f.windowsClosed, f.linkOpens, f.cardVanishes,
                dialogs.count(), qPrintable(kindText.join(", ")), dialogs.popupsAnswered(), f.fileDialogs,
                f.intDialogs, frames.load(), graphFrames);
    if (unexpected) {
        // A dialog nothing replaces would block a user's run of the tool in a test.
        std::printf("monkey: FAIL: %d dialogs of an unexpected kind\n", unexpected);
        printSeed();
        return 1;
    }
    std::printf("monkey: passed\n");
    return 0;
}
