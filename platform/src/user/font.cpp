// Dialog fonts: Windows face names mapped to installed faces, sized as Win32 sizes them.
#include <QFont>
#include <QFontDatabase>
#include <QStringList>

#include "user_private.h"

namespace w32 {
namespace {

// The installed face that stands in for the Mincho face of Japanese Windows: IPAMincho where
// fonts-ipafont-mincho is installed, else any Mincho face, else a serif face for Japanese.
QString mincho_face() {
    const QStringList all = QFontDatabase::families();
    if (all.contains(QStringLiteral("IPAMincho"))) return QStringLiteral("IPAMincho");
    for (const QString& f : all) {
        if (f.contains(QStringLiteral("Mincho"), Qt::CaseInsensitive) ||
            f.contains(QString::fromUtf8("明朝")))
            return f;
    }
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    for (const QString& f : japanese) {
        if (f.contains(QStringLiteral("Serif"), Qt::CaseInsensitive)) return f;
    }
    return japanese.isEmpty() ? QString() : japanese.first();
}

QString installed_face(const std::string& face) {
    static const QString mincho_names[] = {QString::fromUtf8("ＭＳ 明朝"),
                                           QString::fromUtf8("MS Mincho")};
    static const QString mincho = [] {
        QString f = mincho_face();
        if (!f.isEmpty()) {
            for (const QString& n : mincho_names) QFont::insertSubstitution(n, f);
        }
        return f;
    }();
    QString name = QString::fromStdString(face);
    for (const QString& n : mincho_names) {
        if (name == n && !mincho.isEmpty()) return mincho;
    }
    return name;
}

}  // namespace

QFont dialog_font(const std::string& face, int point_size) {
    QFont f(installed_face(face));
    // Win32 asks for a character height of -MulDiv(points, LOGPIXELSY, 72) at 96 dots per inch;
    // a pixel size keeps the dialog's layout independent of the display's resolution.
    int pixels = (point_size * 96 + 36) / 72;
    f.setPixelSize(pixels > 0 ? pixels : 11);
    return f;
}

}  // namespace w32
