// tarrow: the windowed program. The single-instance guard runs first; then the
// application reads its command line, switches the diagnostic log on when asked, warns
// on a kernel older than the scan is made for, and runs the main window modally. The
// process ends when the main window closes.
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

#include <QApplication>

namespace {

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

    if (cmdInfo.m_bDebug)
        ConfigureLog({kLogFolderSetting, GetModuleFileName() + ".log", kDefaultMaxLogFileSize, 1,
                      "full", true});

    // The widgets need no initialisation of their own that could fail: the application
    // object has ended the process already when no display could be opened.

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

    CMainDlg dlg(ScanSetupFromEnvironment());
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    CheckSingleInstance();

    // Takes Qt's own options (-platform, -display...) out of argv.
    QApplication app(argc, argv);
    // The application name is the window's class on X11 and the desktop file name its
    // id on Wayland: both let the desktop match the window to its entry and icon.
    QApplication::setApplicationName(QStringLiteral(TARROW_APP_ID));
    QApplication::setApplicationDisplayName(QString::fromStdString(LoadString(IDS_APP_TITLE)));
    QApplication::setDesktopFileName(QStringLiteral(TARROW_APP_ID));
    QApplication::setWindowIcon(LoadIcon(IDR_MAINFRAME));

    CActivationListener activation;
    const std::unique_ptr<IVersionQuery> pVersionQuery = CreateKernelVersionQuery();
    CTarrowApp theApp(argc, argv, *pVersionQuery);
    theApp.InitInstance();
    return 0;
}
