#pragma once
// TImage: an image control that shows a picture of its own, drawn on with its canvas. The
// picture is one image object for the control's whole life, so the canvas handed out stays valid
// when the picture takes a new bitmap of another size. After drawing, the owner calls update().

#include "display/Canvas.h"

#include <QImage>
#include <QWidget>

#include <memory>

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent = nullptr);
    ~TImage() override;

    // The picture takes the bitmap's size and content, held in the canvas's 32-bit format.
    void AssignBitmap(const QImage &bitmap);
    // The picture as drawn so far.
    const QImage &Picture() const;
    TCanvas *Canvas() const { return FCanvas.get(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage FPicture;
    std::unique_ptr<TCanvas> FCanvas;
};
