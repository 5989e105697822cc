#include "ui/ProgressBar.h"

TZoProgressBar::TZoProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setRange(0, 100); // until a song gives its total
    setValue(0);
}
