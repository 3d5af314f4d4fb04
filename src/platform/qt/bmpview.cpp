// "Oxel Bitmap Viewer": one window per title, showing what BMPVIEW decoded;
// a later BMPVIEW -T TITLE replaces the picture in place.
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <map>

#include "platform/qt/qt_ui.h"

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

std::map<std::string, QScrollArea*>& Viewers() {
    static std::map<std::string, QScrollArea*> v;
    return v;
}

QImage ImageOf(const UiBitmap& b) {
    if (b.gray8)
        return QImage(b.pixels.data(), b.width, b.height, b.width, QImage::Format_Grayscale8).copy();
    return QImage(b.pixels.data(), b.width, b.height, b.width * 3, QImage::Format_RGB888).copy();
}

}  // namespace

int ShowBitmapWindow(QWidget* parent, const UiBitmap& b, bool replace) {
    auto& viewers = Viewers();
    auto it = viewers.find(b.title);
    if (replace && it == viewers.end()) return -1;
    QScrollArea* area;
    if (it != viewers.end()) {
        area = it->second;
    } else {
        area = new QScrollArea(parent);
        area->setWindowFlag(Qt::Window);
        area->setObjectName("bmpview");
        area->setAttribute(Qt::WA_DeleteOnClose);
        area->setWidget(new QLabel(area));
        std::string title = b.title;
        QObject::connect(area, &QObject::destroyed, [title] { Viewers().erase(title); });
        viewers[b.title] = area;
    }
    area->setWindowTitle("Oxel Bitmap Viewer - " + Q(b.title));
    auto* label = static_cast<QLabel*>(area->widget());
    label->setPixmap(QPixmap::fromImage(ImageOf(b)));
    label->adjustSize();
    int w = b.viewWidth > 0 ? b.viewWidth : std::min(b.width + 4, 1200);
    int h = b.viewHeight > 0 ? b.viewHeight : std::min(b.height + 4, 900);
    if (it == viewers.end()) area->resize(w, h);
    if (b.x >= 0 && b.y >= 0) area->move(b.x, b.y);
    area->show();
    area->raise();
    return 1;
}
