// Converts between the core's byte strings (the system code page) and Qt's texts.
#pragma once

#include <QString>

#include <string>

QString ToQString(const std::string& text);
std::string FromQString(const QString& text);
