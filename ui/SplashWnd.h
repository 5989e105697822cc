// The borderless window shown while the program starts.
#pragma once

#include <QWidget>

class TfraSplash;

class TfrmSplash : public QWidget {
public:
    explicit TfrmSplash(QWidget* owner);

    // The status line of the frame.
    void SetStatus(const QString& text);

    TfraSplash* fraSplash1;
};
