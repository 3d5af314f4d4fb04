// The status bar's five fields, drawn as sunken panels whose right edges lie
// exactly at 7/30, 13/30, 19/30, 24/30 and 30/30 of the window width.
#pragma once

#include <QStringList>
#include <QWidget>

class StatusFields : public QWidget {
    Q_OBJECT
public:
    explicit StatusFields(QWidget* parent);
    void SetTexts(const QStringList& texts);
    QStringList Texts() const { return texts_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QStringList texts_;
};
