// A decode's progress bar. How it follows a song (a position past the total fills it, a total of
// 0 shows it empty) is the shared gauge's rule (app/ProgressGauge.h); this is only the bar.
#pragma once

#include "app/WindowControls.h"

#include <QProgressBar>

class TZoProgressBar : public QProgressBar, public IGaugeControl {
public:
    explicit TZoProgressBar(QWidget* parent = nullptr);

    void SetRange(int32_t maximum) override { setRange(0, maximum); }
    int32_t Position() const override { return value(); }
    void SetPosition(int32_t position) override { setValue(position); }
};
