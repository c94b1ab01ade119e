// Draws every picture of the program: window backgrounds, banners, button faces, the
// details chevron, the list header arrows, the application icon and the details list's
// generic document icon. They are drawn from code so that the whole set keeps one style
// and any picture can be changed and regenerated in one place.
//
//   tarrow-artwork <output folder>
//
// writes <folder>/bitmaps/<id>.png, the same pictures drawn again for high-density
// screens at each of kBitmapScales as <folder>/bitmaps/<id>@<scale>x.png,
// <folder>/icons/<id>/<size>.png, the application icon as icons/128/scalable.svg, and
// <folder>/artwork.qrc listing the PNG files; the build runs it and compiles the result
// in (ui/controls/CMakeLists.txt: target tarrow_artwork redraws them into
// <build>/ui/controls/art). Every drawing works in 1x pixels; a larger scale only gives
// the painter more device pixels per pixel, so all scales come from the same code.
// Texts are measured as they are drawn: a text that would not fit its place stops the
// program with a message instead of producing a clipped picture.

#include "MainLayout.h"
#include "Resource.h"
#include "StringTable.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QSvgGenerator>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

// ---- House style ---------------------------------------------------------------------------
const QColor kNavy(5, 13, 111);         // text, the house dark blue
const QColor kLightBlue(229, 245, 255); // boxes, the house light blue
const QColor kWindow(243, 248, 254);    // window background around the panels
const QColor kPanel(255, 255, 255);     // panels
const QColor kPanelBorder(193, 212, 236);
const QColor kFieldBorder(166, 196, 232); // frame around a value box
const QColor kMuted(78, 92, 134);         // secondary text
const QColor kFooter(230, 238, 249);      // button strip at the bottom of every window
const QColor kFooterLine(201, 214, 234);
const QColor kTitleTop(24, 56, 168); // title strip gradient
const QColor kTitleBottom(5, 13, 111);
const QColor kTitleHighlight(64, 110, 214);
const QColor kTagline(196, 214, 250);
const QColor kAccent(28, 94, 200); // pictograms
const QColor kAmber(240, 166, 20); // warning sign
const QColor kGo(30, 138, 60);     // start and resume symbols
const QColor kHalt(190, 44, 44);   // stop symbol

const char* const kProduct = "Quenby";

// A text of the pictures, from the string table, where the windows read it too.
QString PictureText(UINT nId) {
    return QString::fromStdString(LoadString(nId));
}

QString g_strFamily = QStringLiteral("DejaVu Sans");

[[noreturn]] void Fail(const QString& strWhat) {
    std::fprintf(stderr, "tarrow-artwork: %s\n", qPrintable(strWhat));
    std::exit(1);
}

void Require(bool bCondition, const QString& strWhat) {
    if (!bCondition)
        Fail(strWhat);
}

// The drawings are measured in DejaVu Sans, the face the program's own texts are shown
// in on Linux; loading it from its file keeps the pictures the same on every machine.
void LoadFonts() {
    const QString strDir = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    for (const char* pszFile : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"}) {
        const int nId = QFontDatabase::addApplicationFont(strDir + QLatin1String(pszFile));
        if (nId < 0)
            Fail(QStringLiteral("cannot load %1%2 (package fonts-dejavu-core)")
                     .arg(strDir, pszFile));
        g_strFamily = QFontDatabase::applicationFontFamilies(nId).value(0, g_strFamily);
    }
}

QFont Font(int nPixels, bool bBold = false) {
    QFont font(g_strFamily);
    font.setPixelSize(nPixels);
    font.setWeight(bBold ? QFont::Bold : QFont::Normal);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

qreal TextWidth(const QFont& font, const QString& strText) {
    return QFontMetricsF(font).horizontalAdvance(strText);
}

enum class Align { Left, Center, Right };

// Draws a line of text on a baseline; x is its left edge, centre or right edge.
// Returns the x just past the text.
qreal DrawText(QPainter& p, const QFont& font, const QColor& colour, qreal x, qreal rBaseline,
               const QString& strText, Align align = Align::Left) {
    const qreal rWidth = TextWidth(font, strText);
    if (align == Align::Center)
        x -= rWidth / 2;
    else if (align == Align::Right)
        x -= rWidth;
    x = std::round(x);
    p.save();
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QPointF(x, rBaseline), strText);
    p.restore();
    return x + rWidth;
}

// Greedy word wrap into lines no wider than rWidth.
QStringList WrapLines(const QFont& font, const QString& strText, qreal rWidth) {
    QStringList arrLines;
    QString strLine;
    for (const QString& strWord : strText.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString strTry = strLine.isEmpty() ? strWord : strLine + QLatin1Char(' ') + strWord;
        if (!strLine.isEmpty() && TextWidth(font, strTry) > rWidth) {
            arrLines << strLine;
            strLine = strWord;
        } else {
            strLine = strTry;
        }
    }
    if (!strLine.isEmpty())
        arrLines << strLine;
    return arrLines;
}

// A rounded box whose 1-pixel outline falls exactly on the pixels of rc.
void RoundedBox(QPainter& p, const QRect& rc, qreal rRadius, const QBrush& fill,
                const QColor& border) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(border.isValid() ? QPen(border, 1) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(rc).adjusted(0.5, 0.5, -0.5, -0.5), rRadius, rRadius);
    p.restore();
}

QLinearGradient Vertical(const QRect& rc, const QColor& top, const QColor& bottom) {
    QLinearGradient g(0, rc.top(), 0, rc.bottom() + 1);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

// A picture of cx x cy device-independent pixels drawn at scale s: the painter works in
// the 1x coordinates, the image holds round(cx * s) x round(cy * s) pixels.
QImage NewImage(int cx, int cy, const QColor& fill, qreal s) {
    QImage img(static_cast<int>(std::lround(cx * s)), static_cast<int>(std::lround(cy * s)),
               QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(s);
    img.fill(fill);
    return img;
}

// Whole pixels of the 1x grid, filled: at 1x the same pixels an aliased one-pixel line
// sets, at larger scales the same area instead of a line half a pixel off its place.
void FillPixels(QPainter& p, int x, int y, int cx, int cy, const QColor& colour) {
    p.fillRect(QRect(x, y, cx, cy), colour);
}

// The dotted frame of keyboard focus: every other pixel of the rectangle's outline.
void FocusFrame(QPainter& p, const QRect& rc, const QColor& colour) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const auto dot = [&p, &colour](int x, int y) { FillPixels(p, x, y, 1, 1, colour); };
    for (int x = rc.left(); x <= rc.right(); ++x) {
        if ((x + rc.top()) % 2 == 0)
            dot(x, rc.top());
        if ((x + rc.bottom()) % 2 == 0)
            dot(x, rc.bottom());
    }
    for (int y = rc.top() + 1; y < rc.bottom(); ++y) {
        if ((rc.left() + y) % 2 == 0)
            dot(rc.left(), y);
        if ((rc.right() + y) % 2 == 0)
            dot(rc.right(), y);
    }
    p.restore();
}

// ---- Pictograms ------------------------------------------------------------------------
// Each is drawn in a 26 x 26 pixel cell at (x, y), on whole or half pixels so that its
// straight edges stay sharp.

void ShieldPath(QPainterPath& path, const QRectF& rc) {
    const auto pt = [&rc](qreal fx, qreal fy) {
        return QPointF(rc.left() + fx * rc.width(), rc.top() + fy * rc.height());
    };
    path.moveTo(pt(0.5, 0.0));
    path.cubicTo(pt(0.66, 0.10), pt(0.82, 0.13), pt(0.96, 0.13));
    path.lineTo(pt(0.96, 0.46));
    path.cubicTo(pt(0.96, 0.74), pt(0.76, 0.90), pt(0.5, 1.0));
    path.cubicTo(pt(0.24, 0.90), pt(0.04, 0.74), pt(0.04, 0.46));
    path.lineTo(pt(0.04, 0.13));
    path.cubicTo(pt(0.18, 0.13), pt(0.34, 0.10), pt(0.5, 0.0));
    path.closeSubpath();
}

// The product's mark: a blue shield with a white check, outlined in white.
void DrawMark(QPainter& p, const QRectF& rc, bool bOnDark) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shield;
    ShieldPath(shield, rc);
    QLinearGradient g(rc.topLeft(), rc.bottomRight());
    g.setColorAt(0, QColor(96, 168, 255));
    g.setColorAt(1, QColor(20, 70, 186));
    const qreal rLine = std::max(1.0, rc.width() / 16);
    p.setPen(QPen(bOnDark ? QColor(255, 255, 255) : kNavy, rLine));
    p.setBrush(g);
    p.drawPath(shield);
    QPen check(Qt::white, std::max(1.5, rc.width() * 0.12), Qt::SolidLine, Qt::RoundCap,
               Qt::RoundJoin);
    p.setPen(check);
    p.setBrush(Qt::NoBrush);
    const auto pt = [&rc](qreal fx, qreal fy) {
        return QPointF(rc.left() + fx * rc.width(), rc.top() + fy * rc.height());
    };
    const QPointF arrCheck[] = {pt(0.29, 0.50), pt(0.45, 0.66), pt(0.73, 0.35)};
    p.drawPolyline(arrCheck, 3);
    p.restore();
}

void DrawDocumentIcon(QPainter& p, int x, int y) {
    p.save();
    p.translate(x, y);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath page;
    page.moveTo(5.5, 1.5);
    page.lineTo(15.5, 1.5);
    page.lineTo(21.5, 7.5);
    page.lineTo(21.5, 24.5);
    page.lineTo(5.5, 24.5);
    page.closeSubpath();
    p.setPen(QPen(kAccent, 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(15.5, 1.5);
    fold.lineTo(15.5, 7.5);
    fold.lineTo(21.5, 7.5);
    p.setBrush(kLightBlue);
    p.drawPath(fold);
    for (int nLine = 0; nLine < 4; ++nLine)
        FillPixels(p, 8, 11 + 3 * nLine, nLine == 3 ? 7 : 11, 1, kAccent);
    p.restore();
}

void DrawImageIcon(QPainter& p, int x, int y) {
    p.save();
    p.translate(x, y);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kAccent, 1));
    p.setBrush(kLightBlue);
    p.drawRoundedRect(QRectF(1.5, 4.5, 23, 18), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawEllipse(QPointF(18, 10), 2.5, 2.5);
    QPainterPath hills;
    hills.moveTo(2, 22);
    hills.lineTo(9, 12);
    hills.lineTo(14, 18);
    hills.lineTo(17, 15);
    hills.lineTo(24, 22);
    hills.closeSubpath();
    p.setBrush(kAccent);
    p.drawPath(hills);
    p.restore();
}

void DrawMusicIcon(QPainter& p, int x, int y) {
    p.save();
    p.translate(x, y);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    // Two beamed notes.
    QPainterPath beam;
    beam.moveTo(9, 5);
    beam.lineTo(22, 2);
    beam.lineTo(22, 6);
    beam.lineTo(9, 9);
    beam.closeSubpath();
    p.drawPath(beam);
    p.drawRect(QRectF(9, 6, 2, 14));
    p.drawRect(QRectF(20, 3, 2, 14));
    for (const QPointF& ptHead : {QPointF(7, 20.5), QPointF(18, 17.5)}) {
        p.save();
        p.translate(ptHead);
        p.rotate(-20);
        p.drawEllipse(QPointF(0, 0), 4.2, 3.1);
        p.restore();
    }
    p.restore();
}

void DrawVideoIcon(QPainter& p, int x, int y) {
    p.save();
    p.translate(x, y);
    p.setRenderHint(QPainter::Antialiasing);
    // A film frame with its sprocket holes and a play mark.
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(1, 4, 24, 18), 2, 2);
    p.setBrush(Qt::white);
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(3, 6 + 4 * i, 2, 2));
        p.drawRect(QRectF(21, 6 + 4 * i, 2, 2));
    }
    p.setBrush(kLightBlue);
    p.drawRect(QRectF(7, 6, 12, 14));
    QPainterPath play;
    play.moveTo(11, 9.5);
    play.lineTo(16, 13);
    play.lineTo(11, 16.5);
    play.closeSubpath();
    p.setBrush(kAccent);
    p.drawPath(play);
    p.restore();
}

void DrawDriveIcon(QPainter& p, int x, int y) {
    p.save();
    p.translate(x, y);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kAccent, 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(1.5, 6.5, 23, 14), 3, 3);
    FillPixels(p, 2, 15, 23, 1, kAccent);
    p.setPen(Qt::NoPen);
    p.setBrush(kGo);
    p.drawEllipse(QPointF(20, 18), 1.5, 1.5);
    p.setBrush(kAccent);
    p.drawRect(QRectF(5, 17, 8, 2));
    p.restore();
}

// A warning triangle with an exclamation mark, cx wide.
void DrawWarningSign(QPainter& p, qreal x, qreal y, qreal cx) {
    const qreal cy = std::round(cx * 0.9);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tri;
    tri.moveTo(x + cx / 2, y);
    tri.lineTo(x + cx, y + cy);
    tri.lineTo(x, y + cy);
    tri.closeSubpath();
    p.setPen(QPen(QColor(196, 120, 0), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kAmber);
    p.drawPath(tri);
    p.setPen(Qt::NoPen);
    p.setBrush(kNavy);
    const qreal rBar = std::max(2.0, cx / 10);
    p.drawRoundedRect(QRectF(x + cx / 2 - rBar / 2, y + cy * 0.32, rBar, cy * 0.36), rBar / 2,
                      rBar / 2);
    p.drawEllipse(QPointF(x + cx / 2, y + cy * 0.82), rBar * 0.6, rBar * 0.6);
    p.restore();
}

// A cloud with an upward arrow cut out of it, cx wide; the arrow shows `behind`, the
// brush of what the cloud is drawn on.
void DrawCloudUpload(QPainter& p, qreal x, qreal y, qreal cx, const QColor& colour,
                     const QBrush& behind) {
    const qreal s = cx / 40.0;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QTransform device = p.transform();
    p.translate(x, y);
    p.scale(s, s);
    QPainterPath cloud;
    cloud.setFillRule(Qt::WindingFill);
    cloud.addEllipse(QPointF(12, 18), 7, 7);
    cloud.addEllipse(QPointF(21, 13), 9.5, 9.5);
    cloud.addEllipse(QPointF(30, 17.5), 7, 7);
    cloud.addRoundedRect(QRectF(4, 16, 34, 12), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(cloud.simplified());
    // The brush keeps the picture's own coordinates under the scaled painter.
    QBrush arrowBrush = behind;
    arrowBrush.setTransform(device * p.transform().inverted());
    p.setPen(QPen(arrowBrush, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(21, 25), QPointF(21, 14));
    const QPointF arrHead[] = {QPointF(16.5, 18.5), QPointF(21, 14), QPointF(25.5, 18.5)};
    p.drawPolyline(arrHead, 3);
    p.restore();
}

// ---- Shared window parts -------------------------------------------------------------

QRect At(MainLayout::Rect rc) {
    return QRect(rc.x, rc.y, rc.cx, rc.cy);
}

// A text drawn from x on a baseline must lie inside the place where the window tells a
// reader of it.
void RequireInside(MainLayout::Rect rc, const QFont& font, qreal x, qreal rBaseline,
                   const QString& strText) {
    const QFontMetricsF fm(font);
    const QRectF rcText(x, rBaseline - fm.ascent(), TextWidth(font, strText),
                        fm.ascent() + fm.descent());
    Require(QRectF(At(rc)).contains(rcText),
            QStringLiteral("main: \"%1\" (%2, %3 to %4, %5) lies outside its place")
                .arg(strText)
                .arg(rcText.left())
                .arg(rcText.top())
                .arg(rcText.right())
                .arg(rcText.bottom()));
}

// The title strip across the top of every window: the mark and the product's name.
void DrawTitleStrip(QPainter& p, int cx, int cy, int nMark, int nNamePixels,
                    const QString& strTagline = QString()) {
    const QRect rc(0, 0, cx, cy);
    p.fillRect(rc, Vertical(rc, kTitleTop, kTitleBottom));
    p.fillRect(QRect(0, cy - 1, cx, 1), kTitleHighlight);
    const int nMarkX = 14;
    const int nMarkY = (cy - nMark) / 2;
    DrawMark(p, QRectF(nMarkX, nMarkY, nMark, nMark * 1.1), true);
    const QFont name = Font(nNamePixels, true);
    const qreal rNameX = nMarkX + nMark + 10;
    if (strTagline.isEmpty()) {
        const qreal rBaseline = cy / 2.0 + QFontMetricsF(name).capHeight() / 2;
        DrawText(p, name, Qt::white, rNameX, std::round(rBaseline), QString::fromUtf8(kProduct));
        return;
    }
    const QFont tagline = Font(10);
    DrawText(p, name, Qt::white, rNameX, nMarkY + QFontMetricsF(name).capHeight() + 2,
             QString::fromUtf8(kProduct));
    DrawText(p, tagline, kTagline, rNameX + 1, nMarkY + nMark * 1.1 - 1, strTagline);
    RequireInside(MainLayout::kTagline, tagline, rNameX + 1, nMarkY + nMark * 1.1 - 1, strTagline);
}

// The strip that holds a window's buttons, from y to the bottom.
void DrawFooter(QPainter& p, int cx, int cy, int y) {
    p.fillRect(QRect(0, y, cx, cy - y), kFooter);
    p.fillRect(QRect(0, y, cx, 1), kFooterLine);
}

// A caption-less window without a frame of its own draws its edge in the picture.
void DrawWindowEdge(QPainter& p, int cx, int cy) {
    FillPixels(p, 0, 0, cx, 1, kNavy);
    FillPixels(p, 0, cy - 1, cx, 1, kNavy);
    FillPixels(p, 0, 1, 1, cy - 2, kNavy);
    FillPixels(p, cx - 1, 1, 1, cy - 2, kNavy);
}

// ---- Main window (129) ---------------------------------------------------------------
// Drawn around the places the main dialog puts its controls (MainLayout.h).

struct GroupRow {
    UINT nNameId;
    UINT nNoteId;
    std::function<void(QPainter&, int, int)> fnIcon;
    int nCountY;
    int nSizeY;
    int nLinkX; // 0: no link
    int nLinkY;
    int nDetailsY; // 0: no details button
};

using MainLayout::kDetailsX;
using MainLayout::kNameX;
using MainLayout::kPanelWidth;
using MainLayout::kPanelX;
using MainLayout::kValueHeight;
using MainLayout::kValueWidth;
using MainLayout::kValueX;

// Baseline of a text drawn top-aligned from y in this font, as the controls draw theirs.
int BaselineFrom(int y, const QFont& font) {
    return y + QFontMetrics(font).ascent();
}

QImage DrawMainBackground(qreal s) {
    const int cx = MainLayout::kWidth, cy = MainLayout::kHeight;
    QImage img = NewImage(cx, cy, kWindow, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);

    DrawTitleStrip(p, cx, MainLayout::kTitleHeight, 32, 22, PictureText(IDS_PICTURE_MAIN_TAGLINE));

    // Introduction above the banner.
    const QFont heading = Font(13, true);
    const QFont body = Font(11);
    DrawText(p, heading, kNavy, kPanelX, 79, PictureText(IDS_PICTURE_MAIN_HEADING));
    const QStringList arrIntro = WrapLines(body, PictureText(IDS_PICTURE_MAIN_INTRO), kPanelWidth);
    Require(arrIntro.size() <= 2, QStringLiteral("main: introduction needs more than two lines"));
    for (int i = 0; i < arrIntro.size(); ++i)
        DrawText(p, body, kMuted, kPanelX, 96 + 14 * i, arrIntro[i]);

    // Section caption between the banner and the panels.
    QFont caption = Font(9, true);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    const QString strCaption = PictureText(IDS_PICTURE_MAIN_CAPTION);
    DrawText(p, caption, kMuted, MainLayout::kCaption.x, 209, strCaption);
    RequireInside(MainLayout::kCaption, caption, MainLayout::kCaption.x, 209, strCaption);

    // The fonts the controls use: the dialog font (links) and the value texts' font.
    const QFont dialogFont = Font(11);
    const QFont valueFont = Font(10, true);
    const QFont name = Font(12, true);
    const QFont note = Font(10);
    const QFont label = Font(11);

    using MainLayout::kDetailsY;
    using MainLayout::kLinks;
    using MainLayout::kValueY;
    const std::vector<GroupRow> arrRows{
        {IDS_GROUP_DOCUMENTS, IDS_PICTURE_MAIN_NOTE_DOCUMENTS, DrawDocumentIcon, kValueY[0],
         kValueY[1], kLinks[0].x, kLinks[0].y, kDetailsY[0]},
        {IDS_GROUP_IMAGES, IDS_PICTURE_MAIN_NOTE_IMAGES, DrawImageIcon, kValueY[2], kValueY[3],
         kLinks[1].x, kLinks[1].y, kDetailsY[1]},
        {IDS_GROUP_MUSIC, IDS_PICTURE_MAIN_NOTE_MUSIC, DrawMusicIcon, kValueY[4], kValueY[5],
         kLinks[2].x, kLinks[2].y, kDetailsY[2]},
        {IDS_GROUP_VIDEO, IDS_PICTURE_MAIN_NOTE_VIDEO, DrawVideoIcon, kValueY[6], kValueY[7],
         kLinks[3].x, kLinks[3].y, kDetailsY[3]},
        {IDS_A11Y_TOTAL_ROW, IDS_PICTURE_MAIN_NOTE_TOTAL, DrawDriveIcon, kValueY[8], kValueY[9], 0,
         0, 0},
    };
    for (const GroupRow& row : arrRows) {
        const bool bTotal = row.nDetailsY == 0;
        const int nTop = bTotal ? row.nCountY - 5 : row.nDetailsY - 3;
        const int nBottom =
            bTotal ? row.nSizeY + kValueHeight + 6 : row.nDetailsY + MainLayout::kDetailsHeight + 2;
        const QRect rcPanel(kPanelX, nTop, kPanelWidth, nBottom - nTop);
        if (bTotal)
            RoundedBox(p, rcPanel, 5,
                       Vertical(rcPanel, QColor(236, 245, 255), QColor(216, 234, 252)),
                       QColor(150, 186, 230));
        else
            RoundedBox(p, rcPanel, 5, kPanel, kPanelBorder);

        row.fnIcon(p, kPanelX + 8, rcPanel.center().y() - 12);

        // The group's name, with its "?" link right after it on the same baseline.
        const int nNameBaseline =
            bTotal ? BaselineFrom(row.nCountY, valueFont) : BaselineFrom(row.nLinkY, dialogFont);
        const QString strName = PictureText(row.nNameId);
        const qreal rNameEnd = DrawText(p, name, kNavy, kNameX, nNameBaseline, strName);
        if (!bTotal)
            Require(rNameEnd <= row.nLinkX - 2,
                    QStringLiteral("main: the name %1 runs into its link").arg(strName));

        // Files and size labels left of the value boxes, on the values' baselines.
        const int nCountBaseline = BaselineFrom(row.nCountY, valueFont);
        const int nSizeBaseline = BaselineFrom(row.nSizeY, valueFont);
        DrawText(p, label, kMuted, kValueX - 7, nCountBaseline, QStringLiteral("Files:"),
                 Align::Right);
        const qreal rSizeLabel = kValueX - 7 - TextWidth(label, QStringLiteral("Size:"));
        DrawText(p, label, kMuted, kValueX - 7, nSizeBaseline, QStringLiteral("Size:"),
                 Align::Right);
        const QString strNote = PictureText(row.nNoteId);
        const qreal rNoteEnd = DrawText(p, note, kMuted, kNameX, nSizeBaseline, strNote);
        RequireInside(MainLayout::NoteOf(static_cast<int>(&row - arrRows.data())), note, kNameX,
                      nSizeBaseline, strNote);
        Require(rNoteEnd <= rSizeLabel - 6,
                QStringLiteral("main: the note of %1 runs into its size label").arg(strName));

        // The light blue fields the value texts fill.
        for (const int y : {row.nCountY, row.nSizeY})
            RoundedBox(p, QRect(kValueX - 3, y - 2, kValueWidth + 6, kValueHeight + 4), 3,
                       kLightBlue, kFieldBorder);
        Require(kValueX + kValueWidth + 3 < kDetailsX, QStringLiteral("main: fields overlap"));
    }

    DrawFooter(p, cx, cy, MainLayout::kFooterY);
    return img;
}

// ---- Finish window (168) ------------------------------------------------------------

void DrawGroupIconsRow(QPainter& p, int x, int y) {
    DrawDocumentIcon(p, x, y);
    DrawImageIcon(p, x + 30, y);
    DrawMusicIcon(p, x + 60, y);
    DrawVideoIcon(p, x + 90, y);
}

QImage DrawFinishBackground(qreal s) {
    const int cx = 415, cy = 340;
    QImage img = NewImage(cx, cy, kWindow, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawTitleStrip(p, cx, 40, 24, 18);

    DrawWarningSign(p, 24, 48, 22);
    DrawText(p, Font(14, true), kNavy, 54, 65, PictureText(IDS_PICTURE_FINISH_HEADING));

    // The box the two result labels sit in (labels at 130, 83 and 130, 102; 93 x 13).
    const QRect rcBox(24, 74, 367, 50);
    RoundedBox(p, rcBox, 6, kLightBlue, kFieldBorder);
    const QFont caption = Font(11, true);
    const QFont valueFont = Font(10, true);
    const QString strCountCaption = PictureText(IDS_PICTURE_FINISH_COUNT_CAPTION) + u':';
    DrawText(p, caption, kNavy, 124, BaselineFrom(83, valueFont), strCountCaption, Align::Right);
    DrawText(p, caption, kNavy, 124, BaselineFrom(102, valueFont),
             PictureText(IDS_PICTURE_FINISH_SIZE_CAPTION) + u':', Align::Right);
    Require(TextWidth(caption, strCountCaption) < 124 - rcBox.left() - 8,
            QStringLiteral("finish: caption too wide"));
    DrawGroupIconsRow(p, 258, 86);

    // The question, above the banner (which the dialog places at 49, 200).
    const QFont question = Font(13, true);
    const QFont body = Font(11);
    const QString strQuestion = PictureText(IDS_PICTURE_FINISH_QUESTION);
    const QString strBody = PictureText(IDS_PICTURE_FINISH_BODY);
    Require(TextWidth(question, strQuestion) <= cx - 48,
            QStringLiteral("finish: question too wide"));
    Require(TextWidth(body, strBody) <= cx - 48,
            QStringLiteral("finish: text %1 px wide").arg(TextWidth(body, strBody)));
    DrawText(p, question, kNavy, cx / 2.0, 153, strQuestion, Align::Center);
    DrawText(p, body, kMuted, cx / 2.0, 172, strBody, Align::Center);

    DrawFooter(p, cx, cy, 286);
    DrawWindowEdge(p, cx, cy);
    return img;
}

// ---- Unsupported-platform window (162) ------------------------------------------------

QImage DrawPlatformBackground(qreal s) {
    const int cx = 359, cy = 200;
    QImage img = NewImage(cx, cy, kWindow, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawTitleStrip(p, cx, 40, 24, 18);

    DrawWarningSign(p, 20, 52, 30);
    DrawText(p, Font(16, true), kNavy, 60, 75, PictureText(IDS_PICTURE_PLATFORM_HEADING));

    const QFont body = Font(11);
    const QStringList arrLines = WrapLines(body, PictureText(IDS_PICTURE_PLATFORM_TEXT), cx - 40);
    Require(arrLines.size() <= 3, QStringLiteral("platform: the warning needs more than 3 lines"));
    for (int i = 0; i < arrLines.size(); ++i)
        DrawText(p, body, kNavy, 20, 102 + 15 * i, arrLines[i]);

    DrawFooter(p, cx, cy, 148);
    DrawWindowEdge(p, cx, cy);
    return img;
}

// ---- Buttons (86 x 28) -------------------------------------------------------------------

enum class State { Normal, Pressed, Hover, Disabled };
enum class Symbol { Play, Pause, Stop, Cross, Chevron };

struct Face {
    QColor top, bottom, border, text;
};

Face FaceOf(State state) {
    switch (state) {
    case State::Normal:
        return {QColor(255, 255, 255), QColor(214, 232, 251), QColor(100, 134, 194), kNavy};
    case State::Hover:
        return {QColor(255, 255, 255), QColor(196, 224, 253), QColor(34, 84, 180), kNavy};
    case State::Pressed:
        return {QColor(186, 212, 244), QColor(222, 237, 253), QColor(24, 64, 160), kNavy};
    case State::Disabled:
        return {QColor(250, 251, 252), QColor(232, 235, 240), QColor(188, 195, 208),
                QColor(156, 163, 178)};
    }
    return {};
}

QColor SymbolColour(Symbol symbol, State state) {
    if (state == State::Disabled)
        return FaceOf(state).text;
    switch (symbol) {
    case Symbol::Play:
        return kGo;
    case Symbol::Stop:
        return kHalt;
    default:
        return kNavy;
    }
}

constexpr int kSymbolWidth = 10;

// A symbol in a 10 x 10 cell whose top-left corner is (x, y).
void DrawSymbol(QPainter& p, Symbol symbol, int x, int y, const QColor& colour) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    switch (symbol) {
    case Symbol::Play: {
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath tri;
        tri.moveTo(x + 1, y);
        tri.lineTo(x + 10, y + 5);
        tri.lineTo(x + 1, y + 10);
        tri.closeSubpath();
        p.drawPath(tri);
        break;
    }
    case Symbol::Pause:
        p.drawRect(x + 1, y, 3, 10);
        p.drawRect(x + 6, y, 3, 10);
        break;
    case Symbol::Stop:
        p.setRenderHint(QPainter::Antialiasing);
        p.drawRoundedRect(QRectF(x + 0.5, y + 0.5, 9, 9), 1.5, 1.5);
        break;
    case Symbol::Cross:
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x + 1.5, y + 1.5), QPointF(x + 8.5, y + 8.5));
        p.drawLine(QPointF(x + 8.5, y + 1.5), QPointF(x + 1.5, y + 8.5));
        break;
    case Symbol::Chevron: {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        const QPointF arrPts[] = {QPointF(x + 3, y + 1), QPointF(x + 7, y + 5),
                                  QPointF(x + 3, y + 9)};
        p.drawPolyline(arrPts, 3);
        break;
    }
    }
    p.restore();
}

// A push button face: rounded, gradient, symbol and caption centred together (the
// chevron of Continue after its caption), a dotted focus frame on the hover face, the
// content one pixel down and right while pressed. Corners show the button strip colour.
QImage DrawButton(const QString& strLabel, Symbol symbol, State state, qreal s) {
    const int cx = 86, cy = 28;
    QImage img = NewImage(cx, cy, kFooter, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);
    const Face face = FaceOf(state);
    const QRect rc(0, 0, cx, cy);
    RoundedBox(p, rc, 4, Vertical(rc, face.top, face.bottom), face.border);
    if (state == State::Pressed)
        FillPixels(p, 3, 1, cx - 6, 1, QColor(150, 178, 222));

    const QFont font = Font(11, true);
    const qreal rText = TextWidth(font, strLabel);
    const int nGap = 6;
    const qreal rTotal = kSymbolWidth + nGap + rText;
    Require(rTotal <= cx - 12,
            QStringLiteral("button: %1 is %2 px wide").arg(strLabel).arg(rTotal));
    const int nShift = state == State::Pressed ? 1 : 0;
    const int x0 = static_cast<int>(std::round((cx - rTotal) / 2)) + nShift;
    const int nSymbolY = (cy - 10) / 2 + nShift;
    const int nBaseline =
        static_cast<int>(std::round(cy / 2.0 + QFontMetricsF(font).capHeight() / 2)) + nShift;
    const QColor symbolColour = SymbolColour(symbol, state);
    if (symbol == Symbol::Chevron) {
        const qreal rEnd = DrawText(p, font, face.text, x0, nBaseline, strLabel);
        DrawSymbol(p, symbol, static_cast<int>(std::round(rEnd)) + nGap - 2, nSymbolY,
                   symbolColour);
    } else {
        DrawSymbol(p, symbol, x0, nSymbolY, symbolColour);
        DrawText(p, font, face.text, x0 + kSymbolWidth + nGap, nBaseline, strLabel);
    }
    if (state == State::Hover)
        FocusFrame(p, rc.adjusted(3, 3, -4, -4), kNavy);
    return img;
}

// ---- Details button (26 x 35): a double chevron ------------------------------------------

QImage DrawDetailsButton(State state, qreal s) {
    const int cx = 26, cy = 35;
    QImage img = NewImage(cx, cy, kPanel, s);
    QPainter p(&img);
    const QRect rc(0, 0, cx, cy);
    Face face = FaceOf(state);
    if (state == State::Disabled)
        face = {QColor(252, 253, 254), QColor(242, 245, 249), QColor(214, 221, 232),
                QColor(188, 197, 212)};
    RoundedBox(p, rc, 4, Vertical(rc, face.top, face.bottom), face.border);
    const int nShift = state == State::Pressed ? 1 : 0;
    const QColor colour = state == State::Disabled ? face.text : kAccent;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const qreal x : {8.0, 14.0}) {
        const QPointF arrPts[] = {QPointF(x + nShift, 12.5 + nShift),
                                  QPointF(x + 5 + nShift, 17.5 + nShift),
                                  QPointF(x + nShift, 22.5 + nShift)};
        p.drawPolyline(arrPts, 3);
    }
    if (state == State::Hover)
        FocusFrame(p, rc.adjusted(3, 3, -4, -4), kNavy);
    return img;
}

// ---- Banners ----------------------------------------------------------------------------

// The main window's offer banner (322 x 74), on the window background.
QImage DrawMainBanner(State state, qreal s) {
    const int cx = 322, cy = 74;
    QImage img = NewImage(cx, cy, kWindow, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRect rc(0, 0, cx, cy);
    QColor left(22, 78, 184), right(8, 30, 132), border(6, 22, 110);
    if (state == State::Hover) {
        left = QColor(34, 100, 214);
        right = QColor(14, 46, 160);
    } else if (state == State::Pressed) {
        left = QColor(12, 52, 146);
        right = QColor(5, 18, 104);
    }
    QLinearGradient g(0, 0, cx, cy);
    g.setColorAt(0, left);
    g.setColorAt(1, right);
    RoundedBox(p, rc, 7, g, border);
    // A soft highlight across the upper half.
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, state == State::Pressed ? 10 : 22));
    p.drawRoundedRect(QRectF(1, 1, cx - 2, cy / 2.0 - 1), 6, 6);
    p.restore();

    const int d = state == State::Pressed ? 1 : 0;
    DrawCloudUpload(p, 16 + d, 16 + d, 44, Qt::white, g);
    const QFont title = Font(16, true);
    const QFont sub = Font(11);
    const QString strTitle = PictureText(IDS_PICTURE_MAIN_BANNER_TITLE);
    const QString strSub = PictureText(IDS_PICTURE_MAIN_BANNER_TEXT);
    DrawText(p, title, Qt::white, 74 + d, 33 + d, strTitle);
    DrawText(p, sub, QColor(206, 224, 255), 75 + d, 52 + d, strSub);
    Require(74 + TextWidth(sub, strSub) < cx - 36, QStringLiteral("banner: text too wide"));
    DrawSymbol(p, Symbol::Chevron, cx - 28 + d, cy / 2 - 5 + d, Qt::white);
    return img;
}

// The finish window's call to action (317 x 70): a green button.
QImage DrawFinishBanner(State state, qreal s) {
    const int cx = 317, cy = 70;
    QImage img = NewImage(cx, cy, kWindow, s);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRect rc(0, 0, cx, cy);
    QColor top(70, 186, 98), bottom(30, 140, 60), border(20, 110, 46);
    if (state == State::Hover) {
        top = QColor(92, 204, 118);
        bottom = QColor(38, 158, 70);
    } else if (state == State::Pressed) {
        top = QColor(26, 124, 52);
        bottom = QColor(44, 154, 72);
    }
    RoundedBox(p, rc, 9, Vertical(rc, top, bottom), border);
    if (state != State::Pressed)
        FillPixels(p, 8, 1, cx - 16, 1, QColor(255, 255, 255, 70));
    const int d = state == State::Pressed ? 1 : 0;
    const QFont title = Font(19, true);
    const QFont sub = Font(11);
    const QString strTitle = PictureText(IDS_PICTURE_FINISH_BANNER_TITLE);
    const QString strSub = PictureText(IDS_PICTURE_FINISH_BANNER_TEXT);
    const qreal rTitle = TextWidth(title, strTitle);
    const qreal rX = (cx - rTitle - 16) / 2;
    const qreal rEnd = DrawText(p, title, Qt::white, rX + d, 35 + d, strTitle);
    // A bold chevron after the title.
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF arrPts[] = {QPointF(rEnd + 9 + d, 21 + d), QPointF(rEnd + 15 + d, 28 + d),
                              QPointF(rEnd + 9 + d, 35 + d)};
    p.drawPolyline(arrPts, 3);
    p.restore();
    Require(TextWidth(sub, strSub) < cx - 24, QStringLiteral("finish banner: text too wide"));
    DrawText(p, sub, QColor(226, 250, 232), cx / 2.0 + d, 54 + d, strSub, Align::Center);
    return img;
}

// ---- Header arrows (9 x 5): black on white, the list maps black to its grey -------------

// At 1x a staircase of whole pixels; larger, the triangle that staircase stands for.
QImage DrawArrow(bool bUp, qreal s) {
    QImage img = NewImage(9, 5, Qt::white, s);
    QPainter p(&img);
    if (s == 1.0) {
        for (int nRow = 0; nRow < 5; ++nRow) {
            const int nHalf = bUp ? nRow : 4 - nRow;
            FillPixels(p, 4 - nHalf, nRow, 2 * nHalf + 1, 1, Qt::black);
        }
        return img;
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const qreal yBase = bUp ? 5 : 0, yTip = bUp ? 0 : 5;
    const QPointF arrPts[] = {QPointF(0, yBase), QPointF(9, yBase), QPointF(4.5, yTip)};
    p.drawPolygon(arrPts, 3);
    return img;
}

// ---- Icon ---------------------------------------------------------------------------------

void PaintIcon(QPainter& p, int nSize) {
    const qreal rMargin = nSize <= 16 ? 0.5 : nSize / 16.0;
    const qreal rHeight = nSize - 2 * rMargin;
    const qreal rWidth = rHeight / 1.1;
    DrawMark(p, QRectF((nSize - rWidth) / 2, rMargin, rWidth, rHeight), false);
}

QImage DrawIcon(int nSize) {
    QImage img(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    PaintIcon(p, nSize);
    return img;
}

// ---- Generic document icon: file types the icon theme has no picture for ---------------

// A page with a folded corner and a few lines of text, its outline on whole pixels at
// every size.
QImage DrawDocumentTypeIcon(int nSize) {
    QImage img(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    const int nLeft = std::max(1, static_cast<int>(std::lround(nSize * 0.16)));
    const int nRight = nSize - 1 - nLeft;
    const int nTop = std::max(0, static_cast<int>(std::lround(nSize / 32.0)));
    const int nBottom = nSize - 1 - nTop;
    const int nFold = std::max(3, static_cast<int>(std::lround(nSize * 0.28)));
    const qreal h = 0.5; // pixel centres
    QPainterPath page;
    page.moveTo(nLeft + h, nTop + h);
    page.lineTo(nRight - nFold + h, nTop + h);
    page.lineTo(nRight + h, nTop + nFold + h);
    page.lineTo(nRight + h, nBottom + h);
    page.lineTo(nLeft + h, nBottom + h);
    page.closeSubpath();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kAccent, 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(nRight - nFold + h, nTop + h);
    fold.lineTo(nRight - nFold + h, nTop + nFold + h);
    fold.lineTo(nRight + h, nTop + nFold + h);
    fold.closeSubpath();
    p.setBrush(kLightBlue);
    p.drawPath(fold);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kAccent, 1));
    const int nStep = std::max(2, nSize / 8);
    const int nInset = std::max(2, nSize / 8);
    int nLine = 0;
    for (int y = nTop + nFold + nStep; y <= nBottom - nStep; y += nStep, ++nLine) {
        const int nEnd = nLine % 3 == 2 ? (nLeft + nRight) / 2 : nRight - nInset;
        p.drawLine(nLeft + nInset, y, nEnd, y);
    }
    return img;
}

// ---- Output -------------------------------------------------------------------------------

enum class Depth { Rgb24, Argb32 };

class CWriter {
public:
    explicit CWriter(const QString& strDir) : m_dir(strDir) {
        Require(m_dir.mkpath(QStringLiteral("bitmaps")), QStringLiteral("cannot create ") + strDir);
    }

    // Named after the scale it was drawn at: the 1x name stays what it always was.
    void Bitmap(UINT nId, const QImage& img, Depth depth = Depth::Rgb24) {
        const QImage out = img.convertToFormat(depth == Depth::Rgb24 ? QImage::Format_RGB888
                                                                     : QImage::Format_ARGB32);
        const qreal s = img.devicePixelRatio();
        Save(s == 1.0 ? QStringLiteral("bitmaps/%1.png").arg(nId)
                      : QStringLiteral("bitmaps/%1@%2x.png").arg(nId).arg(QString::number(s)),
             out);
    }

    void Icon(UINT nId, int nSize, const QImage& img) {
        const QString strSub = QStringLiteral("icons/%1").arg(nId);
        Require(m_dir.mkpath(strSub), QStringLiteral("cannot create ") + strSub);
        Save(QStringLiteral("%1/%2.png").arg(strSub).arg(nSize, 3, 10, QLatin1Char('0')),
             img.convertToFormat(QImage::Format_ARGB32));
    }

    // The icon at every size from one drawing, for the desktop's scalable icons; not part
    // of the collection compiled in.
    void ScalableIcon(UINT nId, int nSize, const std::function<void(QPainter&, int)>& fnPaint) {
        const QString strPath = m_dir.filePath(QStringLiteral("icons/%1/scalable.svg").arg(nId));
        QSvgGenerator svg;
        svg.setFileName(strPath);
        svg.setSize(QSize(nSize, nSize));
        svg.setViewBox(QRect(0, 0, nSize, nSize));
        svg.setTitle(QString::fromUtf8(kProduct));
        svg.setDescription(QStringLiteral("The application icon of %1").arg(kProduct));
        QPainter p;
        Require(p.begin(&svg), QStringLiteral("cannot write ") + strPath);
        fnPaint(p, nSize);
        Require(p.end(), QStringLiteral("cannot write ") + strPath);
        // The generator gives the size in millimetres; icon themes read it in pixels.
        QFile file(strPath);
        Require(file.open(QIODevice::ReadOnly), QStringLiteral("cannot read ") + strPath);
        QString strSvg = QString::fromUtf8(file.readAll());
        file.close();
        static const QRegularExpression reSize(
            QStringLiteral(R"(<svg width="[^"]*" height="[^"]*")"));
        Require(strSvg.contains(reSize), QStringLiteral("no size in ") + strPath);
        strSvg.replace(reSize, QStringLiteral(R"(<svg width="%1" height="%1")").arg(nSize));
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    file.write(strSvg.toUtf8()) >= 0,
                QStringLiteral("cannot write ") + strPath);
    }

    void WriteCollection() {
        QFile file(m_dir.filePath(QStringLiteral("artwork.qrc")));
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text),
                QStringLiteral("cannot write artwork.qrc"));
        QTextStream out(&file);
        out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
        for (const QString& strFile : m_arrFiles)
            out << "  <file>" << strFile << "</file>\n";
        out << "</qresource>\n</RCC>\n";
    }

private:
    void Save(const QString& strRelative, const QImage& img) {
        Require(img.save(m_dir.filePath(strRelative), "PNG"),
                QStringLiteral("cannot write ") + strRelative);
        m_arrFiles << strRelative;
    }

    QDir m_dir;
    QStringList m_arrFiles;
};

struct ButtonSet {
    const char* pszLabel;
    Symbol symbol;
    UINT nNormal, nPressed, nHover, nDisabled;
    Depth depth;
};

} // namespace

int main(int argc, char** argv) {
    // Pictures only: no display is needed or wanted.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarrow-artwork <output folder>\n");
        return 2;
    }
    LoadFonts();
    CWriter writer(QString::fromLocal8Bit(argv[1]));

    // The 1x pictures first: they are what the windows' layouts are measured in.
    std::vector<qreal> arrScales{1.0};
    arrScales.insert(arrScales.end(), std::begin(kBitmapScales), std::end(kBitmapScales));
    for (const qreal s : arrScales) {
        writer.Bitmap(IDB_MAIN_BACKGROUND, DrawMainBackground(s));
        writer.Bitmap(IDB_FINISH_BACKGROUND, DrawFinishBackground(s));
        writer.Bitmap(IDB_PLATFORM_BACKGROUND, DrawPlatformBackground(s));

        writer.Bitmap(IDB_BANNER, DrawMainBanner(State::Normal, s));
        writer.Bitmap(IDB_BANNER_HOVER, DrawMainBanner(State::Hover, s));
        writer.Bitmap(IDB_BANNER_PRESSED, DrawMainBanner(State::Pressed, s));
        writer.Bitmap(IDB_FINISH_BANNER, DrawFinishBanner(State::Normal, s));
        writer.Bitmap(IDB_FINISH_BANNER_HOVER, DrawFinishBanner(State::Hover, s));
        writer.Bitmap(IDB_FINISH_BANNER_PRESSED, DrawFinishBanner(State::Pressed, s));

        const ButtonSet arrButtons[] = {
            {"Start", Symbol::Play, IDB_START, IDB_START_PRESSED, IDB_START_HOVER,
             IDB_START_DISABLED, Depth::Rgb24},
            {"Pause", Symbol::Pause, IDB_PAUSE, IDB_PAUSE_PRESSED, IDB_PAUSE_HOVER,
             IDB_PAUSE_DISABLED, Depth::Rgb24},
            {"Resume", Symbol::Play, IDB_RESUME, IDB_RESUME_PRESSED, IDB_RESUME_HOVER,
             IDB_RESUME_DISABLED, Depth::Rgb24},
            {"Stop", Symbol::Stop, IDB_STOP, IDB_STOP_PRESSED, IDB_STOP_HOVER, IDB_STOP_DISABLED,
             Depth::Rgb24},
            {"Close", Symbol::Cross, IDB_CLOSE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER,
             IDB_CLOSE_DISABLED, Depth::Rgb24},
            {"Cancel", Symbol::Cross, IDB_CANCEL, IDB_CANCEL_PRESSED, IDB_CANCEL_HOVER,
             IDB_CANCEL_DISABLED, Depth::Rgb24},
            {"Continue", Symbol::Chevron, IDB_CONTINUE, IDB_CONTINUE_PRESSED, IDB_CONTINUE_HOVER,
             IDB_CONTINUE_DISABLED, Depth::Argb32},
        };
        for (const ButtonSet& set : arrButtons) {
            const QString strLabel = QString::fromUtf8(set.pszLabel);
            writer.Bitmap(set.nNormal, DrawButton(strLabel, set.symbol, State::Normal, s),
                          set.depth);
            writer.Bitmap(set.nPressed, DrawButton(strLabel, set.symbol, State::Pressed, s),
                          set.depth);
            writer.Bitmap(set.nHover, DrawButton(strLabel, set.symbol, State::Hover, s), set.depth);
            writer.Bitmap(set.nDisabled, DrawButton(strLabel, set.symbol, State::Disabled, s),
                          set.depth);
        }

        writer.Bitmap(IDB_DETAILS, DrawDetailsButton(State::Normal, s));
        writer.Bitmap(IDB_DETAILS_PRESSED, DrawDetailsButton(State::Pressed, s));
        writer.Bitmap(IDB_DETAILS_HOVER, DrawDetailsButton(State::Hover, s));
        writer.Bitmap(IDB_DETAILS_DISABLED, DrawDetailsButton(State::Disabled, s));

        writer.Bitmap(IDB_ARROW_DOWN, DrawArrow(false, s));
        writer.Bitmap(IDB_ARROW_UP, DrawArrow(true, s));
    }

    for (const int nSize : {16, 24, 32, 48, 64, 128, 256})
        writer.Icon(IDR_MAINFRAME, nSize, DrawIcon(nSize));
    writer.ScalableIcon(IDR_MAINFRAME, 256, PaintIcon);
    for (const int nSize : {16, 24, 32, 48})
        writer.Icon(IDI_DOCUMENT, nSize, DrawDocumentTypeIcon(nSize));

    writer.WriteCollection();
    return 0;
}
