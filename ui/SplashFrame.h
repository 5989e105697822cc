// The content of the splash window: the picture, one status line and the version line.
#pragma once

#include <QFrame>

class QLabel;

class TfraSplash : public QFrame {
public:
    explicit TfraSplash(QWidget* parent = nullptr);

    QLabel* imgSplash;
    QLabel* lblStatus;
    QLabel* lblCredit;
    QLabel* lblVersion;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Runs whenever the frame's size is set: clears the status and fills the version line.
    void FrameResize();
};
