// Test hook of the desktop program, off unless OXEL_TEST_REPORT names a file.
// Once the window is up, the steps of OXEL_TEST_STEPS (separated by ';') run
// in order, then the window closes:
//   report          append the window's state to the report file
//   resize:WxH      resize the main window (and let the layout settle)
//   cmd:ID          run a main-window command as a menu click does
//   close           close the dialog that is open
//   shot            grab the window into the PNG file OXEL_SCREENSHOT
//   rx:TEXT         deliver TEXT (escapes expanded) as if the target sent it
//   flood:MS        for MS milliseconds a thread delivers target output at
//                   full speed while Edit -> ClearTrace is clicked every 50 ms;
//                   reports the slowest click and the console repaints
//   floodtype:MS    the same, with a key typed on the window's thread per tick
// Without OXEL_TEST_STEPS the hook writes one report and closes.
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>
#include <memory>

#include "util/commands.h"
#include "util/utils.h"
#include "console/keyboard.h"
#include "console/rxpath.h"
#include "log/srvrtrace.h"
#include "platform/qt/bands.h"
#include "platform/qt/desktop.h"
#include "platform/qt/mainwindow.h"
#include "platform/qt/statusfields.h"

namespace {

constexpr int kSettleMs = 300;

QString Env(const char* name) { return QString::fromLocal8Bit(std::getenv(name) ? std::getenv(name) : ""); }

QString BandLine(Band* band) {
    QStringList widths;
    for (HeaderButton* h : band->Headers()) widths << QString::number(h->width());
    return QString("%1 %2x%3 headers=%4")
        .arg(band->isVisible() ? 1 : 0).arg(band->width()).arg(band->height()).arg(widths.join(','));
}

void Report(MainWindow* w) {
    DesktopFrame* d = w->Desktop();
    QString out;
    QTextStream s(&out);
    const QSize cell = d->CellSize();
    s << "title=" << w->windowTitle() << "\n";
    s << "window=" << w->width() << "x" << w->height() << "\n";
    s << "cell=" << cell.width() << "x" << cell.height() << "\n";
    s << "scrollbar=0\n";
    s << "console=" << d->TextArea().width() << "x" << d->TextArea().height() << "\n";
    s << "toolbar=" << (d->ToolBar()->isVisible() ? 1 : 0) << " " << d->ToolBar()->height() << "\n";
    s << "fkeyband=" << BandLine(d->FkeyBand()) << "\n";
    s << "buttonband=" << BandLine(d->ButtonBand()) << "\n";
    const QStringList fields = d->Status()->Texts();
    for (int i = 0; i < fields.size(); ++i) s << "status" << i << "=" << fields[i] << "\n";
    s << "message=" << w->statusBar()->currentMessage() << "\n";
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog)
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != w && top->isVisible() && top->isWindow() && !top->windowTitle().isEmpty()) dialog = top;
    s << "dialog=" << (dialog ? dialog->windowTitle() : QString()) << "\n";
    QStringList menus;
    for (QAction* a : w->menuBar()->actions()) menus << a->text();
    s << "menus=" << menus.join(',') << "\n";
    QString trace = QString::fromStdString(TraceText());
    QStringList lines = trace.remove('\r').split('\n', Qt::SkipEmptyParts);
    trace = lines.join('|');
    s << "trace=" << trace << "\n";
    s << "caption=" << QString::fromStdString(TraceCaptionText()) << "\n";
    s << "--\n";
    s.flush();
    QFile f(Env("OXEL_TEST_REPORT"));
    if (f.open(QIODevice::Append)) f.write(out.toUtf8());
}

// Counts the console's repaints.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// With typing, every tick also types a key on the window's thread, as a user
// at the keyboard would while the target floods.
void Flood(MainWindow* w, int ms, bool typing, std::function<void()> done) {
    struct State {
        std::atomic<bool> stop{false};
        std::atomic<uint64_t> bytes{0};
        std::thread feeder;
        QElapsedTimer clock;
        qint64 posted = 0, worst = 0;
        int clicks = 0;
        PaintCounter counter;
    };
    auto st = std::make_shared<State>();
    auto* area = qobject_cast<QAbstractScrollArea*>(w->Desktop()->Console());
    if (area) area->viewport()->installEventFilter(&st->counter);
    st->feeder = std::thread([st] {
        std::string line;
        std::vector<uint8_t> out;
        for (uint64_t n = 0; !st->stop; ++n) {
            line = "flood line " + std::to_string(n) + " 0123456789abcdefghijklmnopqrstuvwxyz\r\n";
            out.resize(line.size() * 5 + 16);
            RxDeliver(reinterpret_cast<const uint8_t*>(line.data()), out.data(), line.size(), out.size());
            st->bytes += line.size();
        }
    });
    QAction* click = w->Desktop()->MenuAction(435);
    auto conn = std::make_shared<QMetaObject::Connection>();
    if (click)
        *conn = QObject::connect(click, &QAction::triggered, w, [st] {
            st->worst = std::max(st->worst, st->clock.elapsed() - st->posted);
            st->clicks++;
        });
    st->clock.start();
    auto* ticker = new QTimer(w);
    QObject::connect(ticker, &QTimer::timeout, w, [st, click, typing] {
        st->posted = st->clock.elapsed();
        if (typing) KeyboardChar('k');
        if (click) QMetaObject::invokeMethod(click, "trigger", Qt::QueuedConnection);
    });
    ticker->start(50);
    QTimer::singleShot(ms, w, [w, st, ticker, conn, area, done] {
        ticker->stop();
        ticker->deleteLater();
        st->stop = true;
        st->feeder.join();
        QObject::disconnect(*conn);
        if (area) area->viewport()->removeEventFilter(&st->counter);
        {
            QFile f(Env("OXEL_TEST_REPORT"));
            if (f.open(QIODevice::Append))
                f.write(QString("flood_bytes=%1\nflood_clicks=%2\nflood_worst_click_ms=%3\nflood_paints=%4\n--\n")
                            .arg(st->bytes.load()).arg(st->clicks).arg(st->worst).arg(st->counter.paints).toUtf8());
        }
        done();
    });
}

void RunSteps(MainWindow* w, std::shared_ptr<QStringList> steps) {
    if (steps->isEmpty()) {
        w->close();
        return;
    }
    const QString step = steps->takeFirst();
    int wait = 0;
    if (step == "report") {
        Report(w);
    } else if (step.startsWith("resize:")) {
        const QStringList wh = step.mid(7).split('x');
        if (wh.size() == 2) w->resize(wh[0].toInt(), wh[1].toInt());
        wait = kSettleMs;
    } else if (step.startsWith("cmd:")) {
        // A command may open a modal dialog: the next steps run inside it.
        QTimer::singleShot(kSettleMs, w, [w, steps] { RunSteps(w, steps); });
        w->Desktop()->Run(step.mid(4).toInt());
        return;
    } else if (step == "close") {
        if (QWidget* m = QApplication::activeModalWidget()) m->close();
        else if (QWidget* a = QApplication::activeWindow(); a && a != w) a->close();
        wait = kSettleMs;
    } else if (step.startsWith("rx:")) {
        const std::string text = ExpandEscapes(step.mid(3).toStdString());
        std::vector<uint8_t> out(text.size() * 5 + 16);
        RxDeliver(reinterpret_cast<const uint8_t*>(text.data()), out.data(), text.size(), out.size());
        wait = kSettleMs;
    } else if (step.startsWith("flood:") || step.startsWith("floodtype:")) {
        const bool typing = step.startsWith("floodtype:");
        Flood(w, step.mid(step.indexOf(':') + 1).toInt(), typing, [w, steps] { RunSteps(w, steps); });
        return;
    } else if (step == "shot") {
        w->grab().save(Env("OXEL_SCREENSHOT"), "PNG");
    }
    QTimer::singleShot(wait, w, [w, steps] { RunSteps(w, steps); });
}

void Poll() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* w = qobject_cast<MainWindow*>(top);
            if (w && w->isVisible()) {
                QString list = Env("OXEL_TEST_STEPS");
                auto steps = std::make_shared<QStringList>(list.isEmpty() ? QStringList{"report"}
                                                                          : list.split(';', Qt::SkipEmptyParts));
                QTimer::singleShot(kSettleMs, w, [w, steps] { RunSteps(w, steps); });
                return;
            }
        }
    QTimer::singleShot(50, qApp, Poll);
}

void Start() {
    if (!Env("OXEL_TEST_REPORT").isEmpty()) QTimer::singleShot(0, qApp, Poll);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Start)
