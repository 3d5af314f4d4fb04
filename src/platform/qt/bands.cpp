#include "platform/qt/bands.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include "app/mainlayout.h"
#include "app/buttons.h"

namespace {

QColor FromBgr(unsigned c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

HeaderInfo Info(bool button, int index) { return button ? ButtonHeader(index) : FkeyHeader(index); }

// The console takes the keyboard back after a header is used.
void FocusConsole(QWidget* from) {
    QWidget* w = from->window()->findChild<QWidget*>("console");
    if (w) w->setFocus(Qt::OtherFocusReason);
}

}  // namespace

HeaderButton::HeaderButton(bool button, int index, QWidget* parent)
    : QPushButton(parent), button_(button), index_(index) {
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QString(button ? "button%1" : "fkey%1").arg(button ? index + 1 : index + 2));
    connect(this, &QPushButton::clicked, this, [this] {
        HeaderClick(button_, index_);
        FocusConsole(this);
    });
    Refresh();
}

void HeaderButton::Refresh() {
    const HeaderInfo h = Info(button_, index_);
    colour_ = h.colour;
    setText(QString::fromStdString(h.text));
    setToolTip(QString::fromStdString(h.toolTip));
    update();
}

void HeaderButton::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        HeaderRightClick(button_, index_);
        FocusConsole(this);
        return;
    }
    QPushButton::mousePressEvent(e);
}

void HeaderButton::paintEvent(QPaintEvent* e) {
    if (!colour_) {
        QPushButton::paintEvent(e);
        return;
    }
    const HeaderInfo h = Info(button_, index_);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor bg = FromBgr(colour_);
    p.fillRect(rect(), bg);
    if (isDown()) {
        // Pressed: a rounded rectangle (corner 5) inset by 2 pixels.
        p.setPen(QPen(bg.darker(160), 1));
        p.setBrush(bg);
        p.drawRoundedRect(QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5), 5, 5);
    }
    p.setPen(FromBgr(h.textColour));
    p.setFont(font());
    const QString l1 = QString::fromStdString(h.line1), l2 = QString::fromStdString(h.line2);
    if (l2.isEmpty()) {
        p.drawText(rect(), Qt::AlignCenter, l1);
    } else {
        QRect top = rect(), bottom = rect();
        top.setBottom(rect().center().y());
        bottom.setTop(rect().center().y());
        p.drawText(top, Qt::AlignHCenter | Qt::AlignBottom, l1);
        p.drawText(bottom, Qt::AlignHCenter | Qt::AlignTop, l2);
    }
}

Band::Band(bool buttons, QWidget* parent) : QWidget(parent), buttons_(buttons) {
    setObjectName(buttons ? "buttonBand" : "fkeyBand");
    const int n = buttons ? kButtonCount : kFkeyHeaders;
    for (int i = 0; i < n; ++i) headers_.push_back(new HeaderButton(buttons, i, this));
    const int fontH = QFontMetrics(QApplication::font()).height();
    setFixedHeight(buttons ? ButtonBandHeight(fontH) : FkeyBandHeight(fontH));
}

void Band::Refresh() {
    for (HeaderButton* h : headers_) h->Refresh();
}

void Band::resizeEvent(QResizeEvent*) { Place(); }

void Band::Place() {
    const BandSplit s = SplitBand(width());
    const int rows = buttons_ ? 2 : 1;
    const int rowH = height() / rows;
    for (size_t i = 0; i < headers_.size(); ++i) {
        const int col = static_cast<int>(i) % kBandHeaders, row = static_cast<int>(i) / kBandHeaders;
        headers_[i]->setGeometry(s.x[col], row * rowH, s.w[col], rowH);
    }
}
