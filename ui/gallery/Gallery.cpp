// Renders every skinned window and every control in each of its states to PNG files, so
// the pictures and the controls drawn over them can be looked at together.
//
//   tarrow-gallery <output folder>
//
// Every window is the program's own dialog; the main window is held in each state of
// a scan. The values shown are samples. Run with QT_SCALE_FACTOR=2 (the gallery target
// does, into gallery/scale-2) it shows them as a high-density screen does, every
// picture in device pixels.

#include "BitmapButtonEx.h"
#include "BitmapDlg.h"
#include "Bitmaps.h"
#include "DetailsDlg.h"
#include "FileTypes.h"
#include "FinishDlg.h"
#include "HyperLink.h"
#include "MainDlg.h"
#include "NotSupportedPlatformDlg.h"
#include "ScanControl.h"
#include "Shell.h"
#include "StaticBanner.h"
#include "StaticEx.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace {

QString g_strOut;

void Save(const QString& strName, const QImage& img) {
    const QString strPath = QDir(g_strOut).filePath(strName + QStringLiteral(".png"));
    if (!img.save(strPath, "PNG"))
        std::fprintf(stderr, "tarrow-gallery: cannot write %s\n", qPrintable(strPath));
    else
        std::printf("%s\n", qPrintable(strPath));
}

void Hover(QWidget& widget) {
    const QPointF pt(widget.width() / 2.0, widget.height() / 2.0);
    QEnterEvent enter(pt, widget.mapTo(widget.window(), pt), widget.mapToGlobal(pt));
    QApplication::sendEvent(&widget, &enter);
}

void Press(QWidget& widget) {
    const QPointF pt(widget.width() / 2.0, widget.height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, pt, widget.mapToGlobal(pt), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
}

// In device pixels: the sheets put pictures side by side pixel for pixel.
QImage DevicePixels(QImage img) {
    img.setDevicePixelRatio(1);
    return img;
}

QImage Grab(QWidget& widget) {
    return DevicePixels(widget.grab().toImage());
}

// Side by side, with a gap, on a neutral backdrop.
QImage Strip(const std::vector<QImage>& arrImages) {
    int cx = 8, cy = 0;
    for (const QImage& img : arrImages) {
        cx += img.width() + 8;
        cy = std::max(cy, img.height());
    }
    QImage strip(cx, cy + 16, QImage::Format_RGB32);
    strip.fill(QColor(200, 200, 200));
    QPainter p(&strip);
    int x = 8;
    for (const QImage& img : arrImages) {
        p.drawImage(x, 8, img);
        x += img.width() + 8;
    }
    return strip;
}

// One above the other, with a gap, on the same backdrop.
QImage Column(const std::vector<QImage>& arrImages) {
    int cx = 0, cy = 0;
    for (const QImage& img : arrImages) {
        cx = std::max(cx, img.width());
        cy += img.height();
    }
    QImage column(cx, cy, QImage::Format_RGB32);
    column.fill(QColor(200, 200, 200));
    QPainter p(&column);
    int y = 0;
    for (const QImage& img : arrImages) {
        p.drawImage(0, y, img);
        y += img.height();
    }
    return column;
}

// Each state of a picture button, in a window with the button strip's colour.
void RenderButtonStates(const char* pszName, UINT nNormal, UINT nPressed, UINT nHover,
                        UINT nDisabled) {
    std::vector<QImage> arrImages;
    const std::vector<std::pair<const char*, std::function<void(CBitmapButtonEx&)>>> arrStates{
        {"normal", [](CBitmapButtonEx&) {}},
        {"pressed", [](CBitmapButtonEx& btn) { btn.setDown(true); }},
        {"hover", [](CBitmapButtonEx& btn) { Hover(btn); }},
        {"disabled", [](CBitmapButtonEx& btn) { btn.setEnabled(false); }},
        {"disabled-while-hovered",
         [](CBitmapButtonEx& btn) {
             Hover(btn);
             btn.setEnabled(false);
         }},
    };
    for (const auto& [pszState, fnState] : arrStates) {
        CBitmapButtonEx btn;
        btn.LoadBitmaps(nNormal, nPressed, nHover, nDisabled);
        btn.SizeToContent();
        btn.PreSubclassWindow();
        fnState(btn);
        const QImage img = Grab(btn);
        Save(QStringLiteral("button-%1-%2").arg(pszName, pszState), img);
        arrImages.push_back(img);
    }
    Save(QStringLiteral("buttons-%1").arg(pszName), Strip(arrImages));
}

void RenderBannerStates(const char* pszName, UINT nNormal, UINT nHover, UINT nPressed) {
    std::vector<QImage> arrImages;
    const std::vector<std::pair<const char*, std::function<void(CStaticBanner&)>>> arrStates{
        {"normal", [](CStaticBanner&) {}},
        {"hover", [](CStaticBanner& banner) { Hover(banner); }},
        {"pressed", [](CStaticBanner& banner) { Press(banner); }},
    };
    for (const auto& [pszState, fnState] : arrStates) {
        CStaticBanner banner;
        banner.PreSubclassWindow();
        banner.SetBitmaps(nNormal, nHover, nPressed);
        fnState(banner);
        const QImage img = Grab(banner);
        Save(QStringLiteral("banner-%1-%2").arg(pszName, pszState), img);
        arrImages.push_back(img);
    }
    Save(QStringLiteral("banners-%1").arg(pszName), Strip(arrImages));
}

// A scan held where the gallery wants it: its manager has reset the events and waits
// at the gate, so the window shows a scan running; then it finds no drive and ends.
class CHeldScan {
public:
    std::shared_ptr<const ScanSetup> Setup() {
        auto pSetup = std::make_shared<ScanSetup>(FolderScanSetup({}));
        pSetup->volumeTable = [this, fnNoDrives = pSetup->volumeTable] {
            std::unique_lock lock(m_lock);
            m_bWaiting = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_bOpen; });
            return fnNoDrives();
        };
        return pSetup;
    }
    void WaitForManager() {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this] { return m_bWaiting; });
    }
    void Release() {
        std::lock_guard lock(m_lock);
        m_bOpen = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bWaiting = false;
    bool m_bOpen = false;
};

void WaitFor(const std::function<bool()>& fnDone) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fnDone() && std::chrono::steady_clock::now() < deadline)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Sample records as a scan reports them: count files of the group, bytes in all.
void Report(CMainDlg& dlg, const char* pszGroup, int nCount, double bytes) {
    FileProperty prop;
    prop.m_nSize = static_cast<std::int64_t>(bytes / nCount);
    for (int i = 0; i < nCount; ++i) {
        prop.m_strPath = "/home/user/" + std::to_string(i);
        SendMessage(dlg.GetSafeHwnd(), WM_FILEFOUND, reinterpret_cast<WPARAM>(pszGroup),
                    reinterpret_cast<LPARAM>(&prop));
    }
}

// The main window idle, scanning, paused and finished, with a sample scan's counts.
void RenderMainStates() {
    constexpr double GB = 1024.0 * 1024 * 1024;
    CHeldScan held;
    CMainDlg dlg(held.Setup());
    dlg.show();
    Save(QStringLiteral("dialog-main-idle"), Grab(dlg));

    auto& start = static_cast<CBitmapButtonEx&>(*dlg.GetDlgItem(IDC_START_PAUSE));
    start.click();
    held.WaitForManager();
    ResumeEvent.Set(); // as the manager does once its workers are under way
    Report(dlg, "Documents", 1843, 2.41 * GB);
    Report(dlg, "Images", 12907, 38.76 * GB);
    QApplication::processEvents(QEventLoop::AllEvents, 200);
    Save(QStringLiteral("dialog-main-scanning"), Grab(dlg));

    Report(dlg, "Music", 3122, 14.02 * GB);
    start.click();
    Hover(*dlg.GetDlgItem(IDC_DETAILS_IMAGES));
    Save(QStringLiteral("dialog-main-paused"), Grab(dlg));

    Report(dlg, "Video", 211, 45.90 * GB);
    auto& stop = static_cast<CBitmapButtonEx&>(*dlg.GetDlgItem(IDC_STOP));
    stop.click();
    Save(QStringLiteral("dialog-main-stopping"), Grab(dlg));
    held.Release();
    WaitFor([&start] { return start.isEnabled(); });
    Save(QStringLiteral("dialog-main-finished"), Grab(dlg));

    // A link idle, hovered, visited, and visited while hovered, with the library's
    // default colours (the main window keeps its links' colour).
    std::vector<QImage> arrImages;
    for (int nState = 0; nState < 4; ++nState) {
        CMainDlg linkDlg(held.Setup());
        linkDlg.Create();
        auto& link = dynamic_cast<CHyperLink&>(*linkDlg.GetDlgItem(IDC_LINK_DOCUMENTS));
        link.m_crVisited = RGB(132, 0, 132);
        const CShellOpenOverride noBrowser([](const std::string&) {});
        if (nState >= 2)
            Press(link);
        if (nState == 1 || nState == 3)
            Hover(link);
        QImage img = linkDlg.GetClientArea()->grab(QRect(40, 214, 120, 26)).toImage();
        arrImages.push_back(img);
    }
    Save(QStringLiteral("links-idle-hover-visited-visitedhover"), Strip(arrImages));
}

void RenderFinish() {
    CFinishDlg dlg("48213 files", "61.37 GB");
    dlg.show();
    Save(QStringLiteral("dialog-finish"), Grab(dlg));
    Hover(*dlg.GetDlgItem(IDC_BANNER));
    Hover(*dlg.GetDlgItem(IDCANCEL));
    Save(QStringLiteral("dialog-finish-hover"), Grab(dlg));
}

void RenderPlatform() {
    CNotSupportedPlatformDlg dlg;
    dlg.show();
    Save(QStringLiteral("dialog-platform"), Grab(dlg));
}

// The details window over a few hundred sample files: as it opens (by name), sorted by
// size descending with a few rows selected, and enlarged.
void RenderDetails() {
    // The offscreen platform names no icon theme, as a session without a desktop: the
    // list finds an installed one itself.
    const char* const arrFolders[] = {
        "/home/ada/Documents/",        "/home/ada/Documents/Taxes 2022/",
        "/home/ada/Pictures/Holiday/", "/home/ada/Music/Albums/Blue Train/",
        "/home/ada/Videos/",           "/mnt/data/archive/\xC9t\xE9/"};
    const char* const arrStems[] = {"Report", "IMG_2041", "invoice-0193", "Track 07", "notes",
                                    "Budget", "DSC01234", "holiday",      "Résumé",   "scan"};
    const char* const arrExtensions[] = {".pdf",  ".docx", ".JPG", ".jpg", ".mp3", ".mkv",
                                         ".xlsx", ".png",  ".qbb", ".odf", ".doc", ".DOC"};
    CFileList list;
    for (int i = 0; i < 300; ++i) {
        FileProperty record;
        record.m_strPath = std::string(arrFolders[i % 6]) + arrStems[(i * 7) % 10] + " " +
                           std::to_string(i) + arrExtensions[(i * 5) % 12];
        record.m_nSize = static_cast<std::int64_t>(std::pow(1.11, i % 211)) * 37 + i;
        record.m_dtModified.m_dt = 44000.0 + i * 3.37;
        if (i == 17)
            record.m_dtModified.m_status = DateTimeStatus::invalid;
        list.push_back(record);
    }
    const CLocaleDateFormat dates(QLocale(QLocale::English, QLocale::UnitedStates));
    {
        CDetailsDlg dlg(&list);
        dlg.GetFileList().SetServices(nullptr, &dates);
        dlg.show();
        Save(QStringLiteral("dialog-details"), Grab(dlg));
        dlg.GetFileList().OnColumnClick(CListDetails::colSize);
        dlg.GetFileList().OnColumnClick(CListDetails::colSize);
        dlg.GetFileList().selectRow(3);
        Save(QStringLiteral("dialog-details-size-descending"), Grab(dlg));
        dlg.resize(dlg.size() + QSize(300, 120));
        Save(QStringLiteral("dialog-details-enlarged"), Grab(dlg));
    }
}

// Pieces of the pictures as a screen of scale 2 would show them: on the left the 1x
// picture enlarged smoothly (what a desktop does with a picture drawn for fewer pixels),
// on the right the picture drawn for scale 2; both twice again, pixel for pixel.
void RenderScaleTwoSheet() {
    std::vector<QImage> arrRows;
    for (const auto& [nId, rc] : {std::pair{IDB_MAIN_BACKGROUND, QRect(0, 0, 180, 56)},
                                  std::pair{IDB_BANNER, QRect(0, 0, 180, 74)},
                                  std::pair{IDB_MAIN_BACKGROUND, QRect(14, 214, 180, 44)},
                                  std::pair{IDB_START_HOVER, QRect(0, 0, 86, 28)},
                                  std::pair{IDB_DETAILS, QRect(0, 0, 26, 35)},
                                  std::pair{IDB_FINISH_BANNER, QRect(0, 0, 180, 70)}}) {
        const QImage one = LoadBitmap(nId).toImage().copy(rc);
        const QImage enlarged =
            one.scaled(one.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QImage two = DevicePixels(LoadBitmap(nId, 2.0).toImage())
                               .copy(QRect(rc.topLeft() * 2, rc.size() * 2));
        std::vector<QImage> arrPair;
        for (const QImage& img : {enlarged, two})
            arrPair.push_back(
                img.scaled(img.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        arrRows.push_back(Strip(arrPair));
    }
    Save(QStringLiteral("zoom-scale-2-against-1x-enlarged"), Column(arrRows));
}

// Every picture at four times its size, for checking edges pixel by pixel: at the
// screen's scale, the pictures drawn for it.
void RenderZoomSheet() {
    const qreal rRatio = qApp->devicePixelRatio();
    std::vector<QImage> arrImages;
    for (UINT nId :
         {IDB_START, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED, IDB_STOP, IDB_DETAILS,
          IDB_DETAILS_HOVER, IDB_DETAILS_DISABLED, IDB_ARROW_DOWN, IDB_ARROW_UP}) {
        const QImage img = DevicePixels(LoadBitmap(nId, rRatio).toImage());
        arrImages.push_back(
            img.scaled(img.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
    Save(QStringLiteral("zoom-small-pictures"), Strip(arrImages));
    std::vector<QImage> arrMarks;
    for (const auto& [nId, rc] : {std::pair{IDB_BANNER, QRect(0, 0, 72, 74)},
                                  std::pair{IDB_MAIN_BACKGROUND, QRect(0, 0, 72, 56)},
                                  std::pair{IDB_MAIN_BACKGROUND, QRect(14, 214, 100, 44)},
                                  std::pair{IDB_MAIN_BACKGROUND, QRect(140, 214, 200, 44)}}) {
        const QImage img =
            DevicePixels(LoadBitmap(nId, rRatio).toImage())
                .copy(QRectF(QRectF(rc).topLeft() * rRatio, QRectF(rc).size() * rRatio).toRect());
        arrMarks.push_back(
            img.scaled(img.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
    Save(QStringLiteral("zoom-marks"), Strip(arrMarks));
    std::vector<QImage> arrIcons;
    const QIcon icon = LoadIcon(IDR_MAINFRAME);
    for (const int nSize : {16, 24, 32, 48, 64, 128, 256})
        arrIcons.push_back(DevicePixels(icon.pixmap(nSize, nSize).toImage()));
    Save(QStringLiteral("icon-sizes"), Strip(arrIcons));
    std::vector<QImage> arrDocument;
    const QIcon document = LoadIcon(IDI_DOCUMENT);
    for (const int nSize : {16, 24, 32, 48}) {
        const QImage img = DevicePixels(document.pixmap(nSize, nSize).toImage());
        arrDocument.push_back(
            img.scaled(img.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
    Save(QStringLiteral("zoom-document-icon"), Strip(arrDocument));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarrow-gallery <output folder>\n");
        return 2;
    }
    g_strOut = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_strOut)) {
        std::fprintf(stderr, "tarrow-gallery: cannot create %s\n", argv[1]);
        return 1;
    }

    RenderMainStates();
    RenderFinish();
    RenderPlatform();
    RenderDetails();
    RenderButtonStates("start", IDB_START, IDB_START_PRESSED, IDB_START_HOVER, IDB_START_DISABLED);
    RenderButtonStates("pause", IDB_PAUSE, IDB_PAUSE_PRESSED, IDB_PAUSE_HOVER, IDB_PAUSE_DISABLED);
    RenderButtonStates("resume", IDB_RESUME, IDB_RESUME_PRESSED, IDB_RESUME_HOVER,
                       IDB_RESUME_DISABLED);
    RenderButtonStates("stop", IDB_STOP, IDB_STOP_PRESSED, IDB_STOP_HOVER, IDB_STOP_DISABLED);
    RenderButtonStates("close", IDB_CLOSE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER, IDB_CLOSE_DISABLED);
    RenderButtonStates("continue", IDB_CONTINUE, IDB_CONTINUE_PRESSED, IDB_CONTINUE_HOVER,
                       IDB_CONTINUE_DISABLED);
    RenderButtonStates("cancel", IDB_CANCEL, IDB_CANCEL_PRESSED, IDB_CANCEL_HOVER,
                       IDB_CANCEL_DISABLED);
    RenderButtonStates("details", IDB_DETAILS, IDB_DETAILS_PRESSED, IDB_DETAILS_HOVER,
                       IDB_DETAILS_DISABLED);
    RenderBannerStates("main", IDB_BANNER, IDB_BANNER_HOVER, IDB_BANNER_PRESSED);
    RenderBannerStates("finish", IDB_FINISH_BANNER, IDB_FINISH_BANNER_HOVER,
                       IDB_FINISH_BANNER_PRESSED);
    RenderZoomSheet();
    RenderScaleTwoSheet();
    return 0;
}
