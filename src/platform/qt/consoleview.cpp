#include "platform/qt/consoleview.h"
#include "util/cmdids.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <vector>

#include "util/commands.h"
#include "app/oxel.h"
#include "config/configrecord.h"
#include "console/keyboard.h"
#include "console/screenbuf.h"
#include "platform/qt/qt_ui.h"

namespace {

constexpr int kQuietMs = 10;    // repaint this long after the last change
constexpr int kLatestMs = 40;   // and never later than this after the first

QColor Rgb(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

QFont SystemFixedFont() {
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    return f;
}

// The font FONTINFO describes, or nothing when it cannot be had.
bool FontFromInfo(const ConsoleFontInfo& fi, QFont* out) {
    if (fi.face.empty()) return false;
    QFont f(QString::fromStdString(fi.face));
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    if (fi.height) f.setPixelSize(std::abs(fi.height));
    if (fi.weight > 0) f.setWeight(static_cast<QFont::Weight>(std::clamp(fi.weight, 100, 900)));
    QFontInfo info(f);
    if (info.family().compare(f.family(), Qt::CaseInsensitive) != 0) return false;
    *out = f;
    return true;
}

int KeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Up: return CK_UP;
    case Qt::Key_Down: return CK_DOWN;
    case Qt::Key_Right: return CK_RIGHT;
    case Qt::Key_Left: return CK_LEFT;
    case Qt::Key_Home: return CK_HOME;
    case Qt::Key_End: return CK_END;
    case Qt::Key_PageUp: return CK_PRIOR;
    case Qt::Key_PageDown: return CK_NEXT;
    case Qt::Key_Delete: return CK_DELETE;
    case Qt::Key_Pause: return CK_PAUSE;
    default:
        if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) return CK_F1 + (qtKey - Qt::Key_F1);
        return CK_OTHER;
    }
}

void OpenFontChooser(QWidget* parent) {
    if (auto* view = parent->findChild<ConsoleView*>()) view->ChooseFont();
}
OXEL_DIALOG("Console Font", OpenFontChooser);

}  // namespace

ConsoleView::ConsoleView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    debounce_.setSingleShot(true);
    connect(&debounce_, &QTimer::timeout, this, [this] { DebounceTick(); });
    font_ = SystemFixedFont();
    ApplyFont();
}

void ConsoleView::Changed() {
    if (pending_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this] { StartRepaint(); }, Qt::QueuedConnection);
}

void ConsoleView::StartRepaint() {
    firstChange_.start();
    seenGeneration_ = ConsoleGeneration();
    debounce_.start(kQuietMs);
}

void ConsoleView::DebounceTick() {
    const uint64_t gen = ConsoleGeneration();
    if (gen != seenGeneration_ && firstChange_.elapsed() < kLatestMs) {
        // Still arriving: wait for a quiet spell, up to the latency cap.
        seenGeneration_ = gen;
        debounce_.start(std::min<int>(kQuietMs, kLatestMs - static_cast<int>(firstChange_.elapsed())));
        return;
    }
    pending_ = false;
    const uint64_t beeps = ConsoleBeeps();
    if (beeps != seenBeeps_) {
        seenBeeps_ = beeps;
        QApplication::beep();
    }
    SyncScrollBar();
    viewport()->update();
}

void ConsoleView::SyncScrollBar() {
    syncing_ = true;
    QScrollBar* sb = verticalScrollBar();
    sb->setRange(0, ConsoleScrollMax());
    sb->setPageStep(std::max(1, viewport()->height()));
    sb->setSingleStep(charH_);
    sb->setValue(ConsoleScrollPos());
    syncing_ = false;
}

void ConsoleView::scrollContentsBy(int, int) {
    if (syncing_) return;
    const int value = verticalScrollBar()->value();
    if (value != ConsoleScrollPos()) ConsoleScrollView(SCROLL_THUMB, value);
    viewport()->update();
}

void ConsoleView::ApplyFont() {
    ConsoleFontInfo fi;
    QFont f = SystemFixedFont();
    if (ConsoleParseFontInfo(g_cfg.FONTINFO, &fi) && !ConsoleFontIsDefault(fi) && !FontFromInfo(fi, &f)) {
        OxelMessageBox("Could not create font from config", "%s", g_cfg.FONTINFO);
        CFG_SET_STRING(g_cfg.FONTINFO, "0,0,0,0");
        f = SystemFixedFont();
    }
    font_ = f;
    QFontMetrics fm(font_);
    charW_ = std::max(1, fm.horizontalAdvance(QLatin1Char('M')));
    charH_ = std::max(1, fm.height());
    // Forced sizes from -h / -w replace the measured ones.
    SetMeasuredCharSize(charW_, charH_);
    if (ForcedCharWidth() > 0) charW_ = ForcedCharWidth();
    if (ForcedCharHeight() > 0) charH_ = ForcedCharHeight();
    ascent_ = fm.ascent();
    ConsoleSetMetrics(charW_, charH_);
    ConsoleResize(viewport()->width(), viewport()->height());
    SyncScrollBar();
    viewport()->update();
}

void ConsoleView::ChooseFont() {
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, font_, this, "Font", QFontDialog::MonospacedFonts);
    if (!ok) return;
    ConsoleFontInfo fi;
    fi.height = QFontInfo(chosen).pixelSize();
    fi.width = 0;
    fi.weight = chosen.weight();
    fi.face = chosen.family().toStdString();
    QFont test;
    if (!FontFromInfo(fi, &test)) {
        OxelMessageBox("Error", "Font creation failed!");
        return;
    }
    CFG_SET_STRING(g_cfg.FONTINFO, ConsoleFormatFontInfo(fi).c_str());
    ApplyFont();
    if (QWidget* w = window()) QMetaObject::invokeMethod(w, "Relayout", Qt::QueuedConnection);
}

QSize ConsoleView::CellsSize(int rows, int cols) const {
    return QSize(cols * charW_ + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
                 rows * charH_ + 2 * frameWidth());
}

QSize ConsoleView::sizeHint() const {
    return CellsSize(g_cfg.CONSOLE_ROWS > 0 ? g_cfg.CONSOLE_ROWS : 40, g_cfg.CONSOLE_COLS > 0 ? g_cfg.CONSOLE_COLS : 80);
}

void ConsoleView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    ConsoleResize(viewport()->width(), viewport()->height());
    SyncScrollBar();
}

void ConsoleView::paintEvent(QPaintEvent* e) {
    QPainter p(viewport());
    p.setFont(font_);
    const QRect damaged = e->rect();
    const int pos = ConsoleScrollPos();
    const int bufRows = ConsoleBufferRows(), bufCols = ConsoleBufferCols();
    const int cols = std::min(ConsoleCols(), bufCols);
    const bool perCell = ConsolePerCellColours();
    const QColor textColour = Rgb(ConsoleTextColour()), background = Rgb(ConsoleBackgroundColour());
    p.fillRect(damaged, background);
    if (bufRows == 0) return;
    const int firstRow = std::max(0, (pos + damaged.top()) / charH_);
    const int lastRow = std::min(bufRows - 1, (pos + damaged.bottom()) / charH_);
    std::vector<char> text(static_cast<size_t>(bufCols));
    std::vector<uint32_t> fg(static_cast<size_t>(bufCols)), bg(static_cast<size_t>(bufCols));
    for (int row = firstRow; row <= lastRow; ++row) {
        const int y = row * charH_ - pos;
        ConsoleCopyRow(row, text.data(), fg.data(), bg.data(), bufCols);
        if (!perCell) {
            p.setPen(textColour);
            p.drawText(0, y + ascent_, QString::fromLatin1(text.data(), cols));
            continue;
        }
        // Cells of one colour pair are drawn as one run: the same picture as
        // drawing each cell alone, at a fraction of the cost.
        for (int c = 0; c < cols;) {
            int end = c + 1;
            while (end < cols && fg[end] == fg[c] && bg[end] == bg[c]) ++end;
            QRect cell(c * charW_, y, (end - c) * charW_, charH_);
            p.fillRect(cell, Rgb(bg[c]));
            p.setPen(Rgb(fg[c]));
            p.drawText(cell.x(), y + ascent_, QString::fromLatin1(text.data() + c, end - c));
            c = end;
        }
    }
    if (hasFocus()) {
        ConsoleCursor cur = ConsoleGetCursor();
        QRect caret(std::min(cur.col, cols) * charW_, cur.row * charH_ - pos, charW_, charH_);
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(caret, Qt::white);
    }
}

void ConsoleView::keyPressEvent(QKeyEvent* e) {
    if (KeyboardKeyDown(KeyCode(e->key()))) return;
    const QByteArray bytes = e->text().toLatin1();
    for (char ch : bytes) KeyboardChar(ch);
    Changed();
}

void ConsoleView::wheelEvent(QWheelEvent* e) {
    const int delta = e->angleDelta().y();
    if (delta == 0) return;
    const int notches = std::max(1, std::abs(delta) / 120);
    for (int i = 0; i < notches; ++i) ConsoleWheel(delta);
    SyncScrollBar();
    viewport()->update();
}

void ConsoleView::mousePressEvent(QMouseEvent* e) {
    KeyboardNoteClick();
    if (e->button() != Qt::RightButton) {
        setFocus();
        return;
    }
    if (g_cfg.RIGHT_BTTN_PASTE)
        CommandDispatch(CMD_PASTE);
    else
        ContextMenu(e->globalPosition().toPoint());
}

void ConsoleView::ContextMenu(const QPoint& global) {
    static const struct {
        int id;
        const char* text;
    } kItems[] = {
        {432, "Paste"},           {477, "PasteWithNewline"}, {429, "Copy Screen Buffer"},
        {438, "Copy Screen Only"}, {466, "Edit Screen Buffer"}, {467, "Edit Screen Only"},
        {480, "Font"},            {430, "Editor"},           {487, "ClearConsole"},
        {435, "ClearTrace"},
    };
    QMenu menu(this);
    for (const auto& item : kItems) {
        const int id = item.id;
        menu.addAction(item.text, this, [id] { CommandDispatch(id); });
    }
    menu.exec(global);
}

void ConsoleView::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    viewport()->update();
}

void ConsoleView::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
}

// Tab belongs to the target, not to focus navigation.
bool ConsoleView::focusNextPrevChild(bool) { return false; }
