// The function-key band (F2-F9) and the button band (two rows of eight):
// header widgets that show a key's label, colour and tool-tip, press the key
// when clicked and edit its script or definition on a right click.
#pragma once

#include <QPushButton>
#include <QWidget>
#include <vector>

class HeaderButton : public QPushButton {
    Q_OBJECT
public:
    HeaderButton(bool button, int index, QWidget* parent);
    void Refresh();
    bool IsDrawn() const { return colour_ != 0; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    bool button_;
    int index_;
    unsigned colour_ = 0;
};

class Band : public QWidget {
    Q_OBJECT
public:
    // buttons: the sixteen-button band, else the F2-F9 band.
    Band(bool buttons, QWidget* parent);
    void Refresh();
    const std::vector<HeaderButton*>& Headers() const { return headers_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void Place();
    bool buttons_;
    std::vector<HeaderButton*> headers_;
};
