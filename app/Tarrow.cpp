// tarrow: the windowed program. The single-instance guard runs first; then the
// application reads its command line, switches the diagnostic log on when asked, warns
// on a kernel older than the scan is made for, and runs the main window modally. The
// process ends when the main window closes.
#include "Accessible.h"
#include "Bitmaps.h"
#include "CommandLineInfo.h"
#include "Environment.h"
#include "Foreground.h"
#include "Log.h"
#include "MainDlg.h"
#include "ModulePath.h"
#include "NotSupportedPlatformDlg.h"
#include "PlatformVersion.h"
#include "ScanFolders.h"
#include "SingleInstance.h"
#include "StringTable.h"
#include "UDisksGrants.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

// The display Qt is about to open, as the user would name it: the X display, the
// Wayland socket, or the platform when it is neither.
std::string DisplayToOpen(int argc, char** argv) {
    const auto option = [argc, argv](const char* pszName) -> const char* {
        for (int i = 1; i + 1 < argc; ++i) {
            const char* pszArg = argv[i];
            if (pszArg[0] == '-' && pszArg[1] == '-')
                ++pszArg;
            if (std::strcmp(pszArg, pszName) == 0)
                return argv[i + 1];
        }
        return nullptr;
    };
    const char* pszPlatform = option("-platform");
    if (!pszPlatform)
        pszPlatform = std::getenv("QT_QPA_PLATFORM");
    const std::string strPlatform = pszPlatform && *pszPlatform ? pszPlatform : "xcb";
    const auto named = [](const char* pszVariable, const char* pszValue) {
        if (!pszValue)
            return std::string(pszVariable) + " is not set";
        return "\"" + std::string(pszValue) + "\"";
    };
    if (strPlatform.starts_with("xcb")) {
        const char* pszDisplay = option("-display");
        return named("DISPLAY", pszDisplay ? pszDisplay : std::getenv("DISPLAY"));
    }
    if (strPlatform.starts_with("wayland"))
        return named("WAYLAND_DISPLAY", std::getenv("WAYLAND_DISPLAY"));
    return "of platform \"" + strPlatform + "\"";
}

// Without a display Qt ends the process with an abort, after lines that blame the
// installation. While the application object is made, Qt's messages are held back: a
// fatal one is said as one line naming the display, and the process ends with 1, its
// instance slot released; otherwise they go out afterwards as Qt would have written them.
// Qt takes a plain function, hence the one pointer to the object in charge.
class CDisplayOpening {
public:
    CDisplayOpening(int argc, char** argv)
        : m_strDisplay(DisplayToOpen(argc, argv)), m_fnPrevious(qInstallMessageHandler(&Hold)) {
        s_pActive = this;
    }
    ~CDisplayOpening() {
        qInstallMessageHandler(m_fnPrevious);
        s_pActive = nullptr;
        for (const Held& held : m_arrHeld) {
            const QMessageLogContext context(held.strFile.c_str(), held.nLine,
                                             held.strFunction.c_str(), held.strCategory.c_str());
            if (m_fnPrevious)
                m_fnPrevious(held.type, context, held.strText);
        }
    }
    CDisplayOpening(const CDisplayOpening&) = delete;
    CDisplayOpening& operator=(const CDisplayOpening&) = delete;

private:
    struct Held {
        QtMsgType type;
        std::string strFile, strFunction, strCategory;
        int nLine;
        QString strText;
    };

    static void Hold(QtMsgType type, const QMessageLogContext& context, const QString& strText) {
        CDisplayOpening& self = *s_pActive;
        if (type == QtFatalMsg) {
            // A platform whose plugin is not installed is no fault of the display.
            const std::string strPlugin = self.MissingPlugin();
            const std::string strWhy =
                strPlugin.empty() ? self.m_strDisplay
                : strPlugin == "wayland"
                    ? "the Qt platform plugin \"wayland\" is not installed (qt6-wayland)"
                    : "the Qt platform plugin \"" + strPlugin + "\" is not installed";
            std::fprintf(stderr, "tarrow: no display could be opened: %s\n", strWhy.c_str());
            std::fflush(stderr);
            CloseInstanceSection();
            std::_Exit(1);
        }
        const auto text = [](const char* psz) { return std::string(psz ? psz : ""); };
        self.m_arrHeld.push_back({type, text(context.file), text(context.function),
                                  text(context.category), context.line, strText});
    }

    // The platform Qt said it could not find a plugin for; empty when it found one.
    std::string MissingPlugin() const {
        static const QString kNotFound = QStringLiteral("Could not find the Qt platform plugin \"");
        for (const Held& held : m_arrHeld) {
            const qsizetype nStart = held.strText.indexOf(kNotFound);
            if (nStart < 0)
                continue;
            const qsizetype nName = nStart + kNotFound.size();
            const qsizetype nEnd = held.strText.indexOf(u'"', nName);
            if (nEnd > nName)
                return held.strText.mid(nName, nEnd - nName).toStdString();
        }
        return {};
    }

    static inline CDisplayOpening* s_pActive = nullptr;
    const std::string m_strDisplay;
    const QtMessageHandler m_fnPrevious;
    std::vector<Held> m_arrHeld;
};

class CTarrowApp {
public:
    CTarrowApp(int argc, char** argv, const IVersionQuery& versionQuery)
        : m_nArgc(argc), m_ppszArgv(argv), m_versionQuery(versionQuery) {}
    ~CTarrowApp() = default;
    CTarrowApp(const CTarrowApp&) = delete;
    CTarrowApp& operator=(const CTarrowApp&) = delete;

    // FALSE in every case: the process ends when this returns.
    bool InitInstance();

    CMainDlg* m_pMainWnd = nullptr;

private:
    int m_nArgc;
    char** m_ppszArgv;
    const IVersionQuery& m_versionQuery;
};

bool CTarrowApp::InitInstance() {
    CScannerCommandLineInfo cmdInfo;
    ParseCommandLine(m_nArgc, m_ppszArgv, cmdInfo);

    if (cmdInfo.m_bDebug) {
        // Asked for and not written: said once, where the user started the program; the
        // window goes on.
        SetLogWriteFailureHandler([](const std::string& strWhy) {
            std::cerr << GetModuleFileName()
                      << ": the diagnostic log could not be written: " << strWhy << "\n";
        });
        if (const std::string strWhy =
                ConfigureLog({kLogFolderSetting, GetModuleFileName() + ".log",
                              kDefaultMaxLogFileSize, 1, "full", true});
            !strWhy.empty())
            std::cerr << GetModuleFileName() << ": the diagnostic log is not written: " << strWhy
                      << "\n";
    }

    // The widgets need no initialisation of their own that could fail: without a display
    // the process has ended already, with 1.

    OsVersionInfo osvi;
    m_versionQuery.GetVersionEx(osvi); // a failed query leaves 0.0, which is warned about
    TLOG_DEBUG("Tarrow.cpp", 70) << "OS Major Version = " << osvi.dwMajorVersion
                                 << "; OS Minor Version = " << osvi.dwMinorVersion;

    if (!IsPlatformSupported(osvi)) {
        bool bAgreed = false;
        {
            CNotSupportedPlatformDlg dlg;
            bAgreed = dlg.DoModal() == static_cast<int>(IDYES);
        }
        TLOG_DEBUG("Tarrow.cpp", 82)
            << "Message about unsupported platform was shown. The user "
            << (bAgreed ? "agreed to continue" : "didn't agree and close the Scanner");
        if (!bAgreed)
            return false;
    }

    // A drive whose device the user may not open is asked for through the desktop,
    // which asks the user for an administrator's password.
    auto pSetup = std::make_shared<ScanSetup>(*ScanSetupFromEnvironment());
    pSetup->grantVolume = GrantVolumeThrough(std::make_shared<CUDisksGrants>());
    CMainDlg dlg(pSetup);
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    CheckSingleInstance();

    // Takes Qt's own options (-platform, -display...) out of argv.
    std::optional<CDisplayOpening> opening(std::in_place, argc, argv);
    QApplication app(argc, argv);
    opening.reset();
    // Qt has switched the C runtime to the environment's locale. Size texts and the
    // details list's case folding keep the "C" locale's rules until ConfigureLog makes the
    // user's locale the process's. Qt needs nothing of it any more: it reads file names
    // as UTF-8 whatever the locale, and its compose input takes the locale from the
    // environment.
    std::setlocale(LC_ALL, "C");
    // The application name is the window's class on X11 and the desktop file name its
    // id on Wayland: both let the desktop match the window to its entry and icon.
    QApplication::setApplicationName(QStringLiteral(TARROW_APP_ID));
    QApplication::setApplicationDisplayName(QString::fromStdString(LoadString(IDS_APP_TITLE)));
    QApplication::setDesktopFileName(QStringLiteral(TARROW_APP_ID));
    QApplication::setWindowIcon(LoadIcon(IDR_MAINFRAME));
    InstallControlAccessibility();

    const std::unique_ptr<IVersionQuery> pVersionQuery = CreateKernelVersionQuery();
    CTarrowApp theApp(argc, argv, *pVersionQuery);
    // The main window is the one the slot names for later starts.
    CActivationListener activation([&theApp]() -> QWidget* { return theApp.m_pMainWnd; });
    theApp.InitInstance();
    return 0;
}
