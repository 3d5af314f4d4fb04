#include "platform/qt/desktop.h"

#include <algorithm>

#include <QAbstractScrollArea>
#include <QAction>
#include <QMouseEvent>
#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "util/commands.h"
#include "app/mainlayout.h"
#include "app/oxel.h"
#include "app/statusbar.h"
#include "app/toolbar.h"
#include "script/inactivity.h"
#include "console/capture.h"
#include "console/screenbuf.h"
#include "console/vt100.h"
#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/qt/bands.h"
#include "platform/qt/statusfields.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct ToolLook {
    int id;
    const char* text;       // shown on the button
    const char* theme;      // icon theme name, "" for a text button
};
const ToolLook kLooks[] = {
    {950, "Disc", "network-offline"}, {951, "Conn", "network-connect"},
    {952, "DTR", ""},  {958, "RTS", ""},  {957, "BRK", ""}, {956, "Baud", ""},
    {953, "Fn", ""}, {954, "TS", ""}, {955, "Log", ""},
    {959, "DCD", ""},  {960, "DSR", ""},  {961, "CTS", ""},  {962, "RI", ""},
};

// Initial states of checkable items whose owners set them before the menus
// existed.
bool ConfigChecked(int id) {
    switch (id) {
    case 442: return g_cfg.TOOLBAR_VISIBLE;
    case 443: return g_cfg.FUNCKEYS_VISIBLE;
    case 459: return g_cfg.BUTTONS_VISIBLE;
    case 445: return g_cfg.STATUSBAR_VISIBLE;
    case 444: return g_cfg.TRACE_VISIBLE;
    case 474: return g_cfg.RIGHT_BTTN_PASTE;
    case 482: return g_cfg.CONSOLE_READONLY;
    case 472: return g_cfg.LOGGING_OMITHDR;
    case 485: return g_cfg.LOGGING_NOWARNING;
    case 954: return g_cfg.TSTAMP_ENABLED;
    case 955: return g_cfg.LOGGING_ENABLED;
    case 404: return g_cfg.BACKEND == 1;
    case 449: return g_cfg.BACKEND == 2;
    case 450: return g_cfg.BACKEND == 3;
    case 457: return g_cfg.BACKEND == 4;
    default: return false;
    }
}

}  // namespace

DesktopFrame::DesktopFrame(QMainWindow* window, QVBoxLayout* central, QWidget* console, QWidget* tracePane)
    : QObject(window), window_(window), console_(console), trace_(tracePane) {
    console_->setObjectName("console");
    fkeyBand_ = new Band(false, central->parentWidget());
    buttonBand_ = new Band(true, central->parentWidget());
    central->insertWidget(0, buttonBand_);
    central->insertWidget(0, fkeyBand_);
    status_ = new StatusFields(window_->statusBar());
    window_->statusBar()->addWidget(status_, 1);
    window_->statusBar()->setSizeGripEnabled(true);
    BuildToolBar();
    console_->installEventFilter(this);
    window_->installEventFilter(this);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(console_)) {
        viewport_ = area->viewport();
        viewport_->installEventFilter(this);
        viewport_->setMouseTracking(false);
    }
}

void DesktopFrame::Run(int id) {
    ActivitySeen();
    if (!CommandDispatch(id)) window_->statusBar()->showMessage(kNotAvailable, 5000);
}

void DesktopFrame::BuildToolBar() {
    toolBar_ = new QToolBar("Tool bar", window_);
    toolBar_->setObjectName("toolBar");
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setFixedHeight(kToolBarHeight);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolBar_->setStyleSheet("QToolButton { padding: 0px 3px; margin: 0px; }");
    toolBar_->setIconSize(QSize(16, 16));
    window_->addToolBar(Qt::TopToolBarArea, toolBar_);
    for (int id : ToolBarLayout()) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        const ToolLook* look = nullptr;
        for (const ToolLook& l : kLooks)
            if (l.id == id) look = &l;
        QAction* a = toolBar_->addAction(look ? look->text : "?");
        if (look && *look->theme) a->setIcon(QIcon::fromTheme(look->theme));
        a->setCheckable(ToolBarIsIndicator(id) || id == 952 || id == 958 || id == 957 || id == 953 ||
                        id == 954 || id == 955);
        if (ToolBarIsIndicator(id)) {
            // A line indicator shows the line; clicking it changes nothing.
            connect(a, &QAction::triggered, this, [this, a, id] { a->setChecked(checked_[id]); });
        } else {
            connect(a, &QAction::triggered, this, [this, a, id] {
                a->setChecked(checked_[id]);
                Run(id);
            });
        }
        toolActions_[id] = a;
    }
    RefreshToolTips();
}

void DesktopFrame::RefreshToolTips() {
    for (auto& [id, a] : toolActions_) a->setToolTip(Q(ToolBarToolTip(id)));
}

void DesktopFrame::BuildMenus() {
    MainCommandsInit();
    QMenuBar* bar = window_->menuBar();
    bar->clear();
    menuActions_.clear();
    std::map<QString, QMenu*> menus;
    auto menuFor = [&](const QString& path) {
        QMenu* parent = nullptr;
        QString sofar;
        for (const QString& part : path.split('/')) {
            sofar += "/" + part;
            auto it = menus.find(sofar);
            if (it == menus.end()) {
                QMenu* m = parent ? parent->addMenu(part) : bar->addMenu(part);
                if (!parent) {
                    // While a menu is open the emulator passes bytes through raw.
                    connect(m, &QMenu::aboutToShow, this, [] { Vt100SetMenuOpen(true); });
                    connect(m, &QMenu::aboutToHide, this, [] { Vt100SetMenuOpen(false); });
                }
                it = menus.emplace(sofar, m).first;
            }
            parent = it->second;
        }
        return parent;
    };
    const std::vector<CommandEntry> table = CommandTable();
    auto entryFor = [&](int id) -> const CommandEntry* {
        for (const auto& e : table)
            if (e.id == id) return &e;
        return nullptr;
    };
    auto addItem = [&](QMenu* menu, int id, const QString& text, bool checkable) {
        QAction* a = menu->addAction(text);
        a->setCheckable(checkable);
        a->setChecked(checked_.count(id) ? checked_[id] : ConfigChecked(id));
        if (enabled_.count(id)) a->setEnabled(enabled_[id]);
        connect(a, &QAction::triggered, this, [this, id] { Run(id); });
        menuActions_[id] = a;
    };
    // The layout first, in its order; then items of modules the layout does
    // not know, under the menu they asked for.
    for (const MenuItemDef& m : MainMenuLayout()) {
        QMenu* menu = menuFor(m.menu);
        if (m.id == 0) {
            menu->addSeparator();
            continue;
        }
        const CommandEntry* e = entryFor(m.id);
        addItem(menu, m.id, m.text, m.checkable || (e && e->checkable));
    }
    for (const CommandEntry& e : table) {
        if (e.text.empty() || e.menu.empty() || MainMenuIndex(e.id) >= 0) continue;
        addItem(menuFor(Q(e.menu)), e.id, Q(e.text), e.checkable);
    }
    // Accelerators of the commands that have them.
    auto shortcut = [&](int id, const QKeySequence& k) {
        auto it = menuActions_.find(id);
        if (it != menuActions_.end()) it->second->setShortcut(k);
    };
    // Plain Ctrl letters belong to the target (Ctrl-S/Ctrl-Q are XOFF/XON).
    shortcut(400, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    shortcut(401, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    shortcut(403, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q));
    shortcut(432, QKeySequence(Qt::SHIFT | Qt::Key_Insert));
    shortcut(429, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    shortcut(487, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    shortcut(409, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    shortcut(410, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    for (auto& [id, a] : menuActions_) a->setShortcutContext(Qt::WindowShortcut);
    // Shift+F2: show/hide the SysTrace pane; Shift+F12: debug trace on/off
    // (accelerators without menu items).
    for (auto [key, id] : {std::pair{Qt::Key_F2, 436}, std::pair{Qt::Key_F12, 437}}) {
        auto* accel = new QAction(window_);
        accel->setShortcut(QKeySequence(Qt::SHIFT | key));
        connect(accel, &QAction::triggered, this, [this, id = id] { Run(id); });
        window_->addAction(accel);
    }
    for (auto& [id, a] : toolActions_) {
        if (checked_.count(id)) a->setChecked(checked_[id]);
        else if (a->isCheckable()) a->setChecked(ConfigChecked(id));
        if (enabled_.count(id)) a->setEnabled(enabled_[id]);
    }
    // The owners set their checks and enables again, now that the items exist.
    OxelSyncMenus();
}

void DesktopFrame::EnableCommand(int id, bool on) {
    enabled_[id] = on;
    if (auto it = menuActions_.find(id); it != menuActions_.end()) it->second->setEnabled(on);
    if (auto it = toolActions_.find(id); it != toolActions_.end()) it->second->setEnabled(on);
}

void DesktopFrame::CheckCommand(int id, bool on) {
    checked_[id] = on;
    if (auto it = menuActions_.find(id); it != menuActions_.end()) {
        it->second->setCheckable(true);
        it->second->setChecked(on);
    }
    if (id == 443) CheckCommand(953, on);
    if (auto it = toolActions_.find(id); it != toolActions_.end()) {
        it->second->setCheckable(true);
        it->second->setChecked(on);
    }
    if (id == 954 || id == 955) RefreshToolTips();
}

void DesktopFrame::RefreshStatus() {
    QStringList texts;
    for (const std::string& t : StatusTexts()) texts << Q(t);
    status_->SetTexts(texts);
    RefreshToolTips();
}

QSize DesktopFrame::CellSize() const { return QSize(std::max(1, ConsoleCharWidth()), std::max(1, ConsoleCharHeight())); }

QSize DesktopFrame::TextArea() const {
    // From the console's own size: its viewport follows only after a layout pass.
    auto* area = qobject_cast<QAbstractScrollArea*>(console_);
    if (!area) return console_->size();
    const int frame = 2 * area->frameWidth();
    return console_->size() - QSize(area->verticalScrollBar()->sizeHint().width() + frame, frame);
}

void DesktopFrame::Relayout() {
    toolBar_->setVisible(g_cfg.TOOLBAR_VISIBLE != 0);
    fkeyBand_->setVisible(g_cfg.FUNCKEYS_VISIBLE != 0);
    buttonBand_->setVisible(g_cfg.BUTTONS_VISIBLE != 0);
    window_->statusBar()->setVisible(g_cfg.STATUSBAR_VISIBLE != 0);
    fkeyBand_->Refresh();
    buttonBand_->Refresh();
    if (g_cfg.CONSOLE_ROWS != appliedRows_ || g_cfg.CONSOLE_COLS != appliedCols_) ApplyConfigSize();
    else FitWholeCells();
    RefreshStatus();
}

void DesktopFrame::ApplyConfigSize() {
    // Until the window is shown and laid out the parts around the console
    // have no real sizes: size from an estimate, then again on each console
    // resize until the measurement holds.
    sizePending_ = true;
    sizeTries_ = 0;
    SizeFromConfig(LayoutSettled());
}

bool DesktopFrame::LayoutSettled() const {
    return window_->isVisible() && console_->width() == window_->width();
}

void DesktopFrame::SizeFromConfig(bool final) {
    const QSize cell = CellSize();
    // Measure what surrounds the console now: menu bar, tool bar, bands,
    // SysTrace pane and status bar as laid out.
    window_->ensurePolished();
    if (window_->layout()) window_->layout()->activate();
    if (QWidget* c = window_->centralWidget(); c && c->layout()) c->layout()->activate();
    WindowSizeInput in;
    in.charWidth = cell.width();
    in.charHeight = cell.height();
    QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    const int frame = window_->frameGeometry().height() - window_->geometry().height();
    in.screenClientHeight = (screen ? screen->availableGeometry().height() : 1080) - std::max(0, frame);
    // Everything around the console's text area, scroll bar and frame included.
    const QSize text = TextArea();
    in.scrollBarWidth = std::max(0, window_->width() - text.width());
    in.topOffset = std::max(0, window_->height() - text.height());
    in.cols = std::max(1, static_cast<int>(g_cfg.CONSOLE_COLS));
    in.rows = std::max(1, static_cast<int>(g_cfg.CONSOLE_ROWS));
    const WindowSize ws = ConfigMainWindowSize(in);
    if (final) sizePending_ = false;
    if (final && ws.rowsTaken > 0) {
        g_cfg.CONSOLE_ROWS = ws.rows;
        TracePrintf(TRC_ALWAYS, "Console height reduced by %d to accommodate screen size", ws.rowsTaken);
    }
    appliedRows_ = final ? g_cfg.CONSOLE_ROWS : ws.rows;
    appliedCols_ = g_cfg.CONSOLE_COLS;
    window_->setSizeIncrement(cell);
    window_->setBaseSize(ws.width - in.cols * cell.width(), ws.height - ws.rows * cell.height());
    fitGuard_ = 0;
    window_->resize(ws.width, ws.height);
}

void DesktopFrame::FitWholeCells() {
    if (fitPending_) return;
    fitPending_ = true;
    // After the layout has given the console its size.
    QTimer::singleShot(0, this, [this] {
        fitPending_ = false;
        const QSize cell = CellSize();
        LayoutInput in;
        in.charWidth = cell.width();
        in.charHeight = cell.height();
        in.scrollBarWidth = 0;
        in.bufferCols = ConsoleBufferCols();
        const QSize text = TextArea();
        in.clientWidth = text.width();
        in.clientHeight = text.height();
        const LayoutResult r = LayoutMainWindow(in);
        if (r.shrink && (r.dw || r.dh) && fitGuard_++ < 4) {
            window_->resize(window_->width() - r.dw, window_->height() - r.dh);
            return;
        }
        fitGuard_ = 0;
        RefreshStatus();
    });
}

bool DesktopFrame::eventFilter(QObject* watched, QEvent* e) {
    if (watched == viewport_ && viewport_) {
        // Left-button selection and double-click word copy on the console.
        auto* m = dynamic_cast<QMouseEvent*>(e);
        if (m && (m->button() == Qt::LeftButton || (m->buttons() & Qt::LeftButton))) {
            const QPoint p = m->position().toPoint();
            switch (e->type()) {
            case QEvent::MouseButtonPress: CaptureMouseDown(p.x(), p.y()); break;
            case QEvent::MouseMove: if (console_->hasFocus()) CaptureMouseMove(p.x(), p.y()); break;
            case QEvent::MouseButtonRelease: CaptureMouseUp(); break;
            case QEvent::MouseButtonDblClick: CaptureDoubleClick(p.x(), p.y()); return true;
            default: break;
            }
        }
    }
    if (e->type() == QEvent::Resize) {
        if (watched == console_ && sizePending_ && sizeTries_++ < 8) {
            SizeFromConfig(LayoutSettled());
        } else if (watched == console_) {
            FitWholeCells();
        }
        if (watched == window_) status_->update();
    }
    return QObject::eventFilter(watched, e);
}
