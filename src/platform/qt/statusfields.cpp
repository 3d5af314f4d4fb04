#include "platform/qt/statusfields.h"

#include <QPainter>
#include <qdrawutil.h>

#include "app/statusbar.h"

StatusFields::StatusFields(QWidget* parent) : QWidget(parent) {
    setObjectName("statusFields");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (int i = 0; i < kStatusFields; ++i) texts_ << QString();
}

void StatusFields::SetTexts(const QStringList& texts) {
    if (texts == texts_) return;
    texts_ = texts;
    update();
}

QSize StatusFields::sizeHint() const { return QSize(300, fontMetrics().height() + 6); }

void StatusFields::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Edges are fractions of the window's width; this widget may start a few
    // pixels in, so map them into local coordinates.
    const int offset = mapTo(window(), QPoint(0, 0)).x();
    const auto edges = StatusFieldEdges(window()->width());
    int left = 0;
    for (int i = 0; i < kStatusFields; ++i) {
        const int right = std::min(width(), edges[i] - offset);
        const QRect cell(left, 0, std::max(0, right - left - 2), height());
        qDrawShadePanel(&p, cell, palette(), true, 1);
        const QRect text = cell.adjusted(4, 0, -3, 0);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(i < texts_.size() ? texts_[i] : QString(), Qt::ElideRight, text.width()));
        left = right;
    }
}
