// A decode's progress bar: a song's position in milliseconds against its total. Qt's bar
// ignores a value outside its range and turns into a busy indicator when its range is empty;
// this one behaves as a plain gauge instead. A position past the total fills the bar, a total
// of 0 shows an empty bar, and a new total keeps the position shown so far (within the new
// range) until the next position arrives, so that the bar does not drop to empty between two
// songs.
#pragma once

#include <QProgressBar>

#include <cstdint>

class TZoProgressBar : public QProgressBar {
public:
    explicit TZoProgressBar(QWidget* parent = nullptr);

    void SetTotal(uint32_t totalMs);
    void SetPosition(uint32_t positionMs);
    uint32_t Total() const { return FTotal; }

private:
    uint32_t FTotal = 100;
};
