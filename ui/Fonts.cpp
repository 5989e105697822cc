#include "ui/Fonts.h"

#include <QFont>
#include <QStringList>

void RegisterFontSubstitutes()
{
    const QStringList gothic = {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")};
    QFont::insertSubstitutions(WindowFontFamily(), gothic);
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}
