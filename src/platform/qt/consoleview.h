// The console view: paints the screen buffer with the configured font and
// colours, keeps the caret and scroll bar, and hands keys, the wheel and
// right clicks to the core.
#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QTimer>
#include <atomic>
#include <cstdint>

class ConsoleView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ConsoleView(QWidget* parent);

    // Any thread: the buffer changed. Repaints are coalesced: about 10 ms
    // after the last change, never later than 40 ms after the first.
    void Changed();
    // Creates the font from FONTINFO (the system fixed font for "0,0,0,0"),
    // measures it and resizes the console.
    void ApplyFont();
    // Opens the font chooser (Set Font).
    void ChooseFont();
    // The size that shows CONSOLE_ROWS x CONSOLE_COLS cells.
    QSize CellsSize(int rows, int cols) const;
    int CharWidth() const { return charW_; }
    int CharHeight() const { return charH_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void StartRepaint();
    void DebounceTick();
    void SyncScrollBar();
    void ContextMenu(const QPoint& global);

    QFont font_;
    int charW_ = 8, charH_ = 16, ascent_ = 12;
    std::atomic<bool> pending_{false};
    QTimer debounce_;
    QElapsedTimer firstChange_;
    uint64_t seenGeneration_ = 0;
    uint64_t seenBeeps_ = 0;
    bool syncing_ = false;
};
